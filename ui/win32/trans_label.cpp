#include "ui/win32/trans_label.h"

namespace ui {

TransLabel::TransLabel(const ComponentRow& row, ComponentHost& host) : Component(row, host), text_(row) {}

void TransLabel::Paint(HDC dc) {
  if (!visible() || caption().empty()) return;
  text_.Draw(dc, Bounds(), caption());
}

}  // namespace ui

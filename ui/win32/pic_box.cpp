#include "ui/win32/pic_box.h"

namespace ui {

PicBox::PicBox(const ComponentRow& row, ComponentHost& host)
    : Component(row, host), picture_(SkinBitmap::Load(row.faces[0])) {}

void PicBox::Paint(HDC dc) {
  if (!visible()) return;
  const RECT r = Bounds();
  picture_.Draw(dc, r.left, r.top, r.right - r.left, r.bottom - r.top);
}

}  // namespace ui

#include "ui/win32/label.h"

#include <algorithm>

namespace ui {

Label::Label(const ComponentRow& row, ComponentHost& host)
    : Component(row, host), picture_(SkinBitmap::Load(row.faces[0])), text_(row) {}

void Label::Paint(HDC dc) {
  const RECT r = Bounds();
  if (!visible() || r.right <= r.left || r.bottom <= r.top) return;
  const Rgb back = row().back_color;
  GdiObject<HBRUSH> brush(CreateSolidBrush(RGB(back.r, back.g, back.b)));
  FillRect(dc, &r, brush.get());
  if (!picture_.empty()) {
    for (int y = r.top; y < r.bottom; y += picture_.height()) {
      for (int x = r.left; x < r.right; x += picture_.width()) {
        picture_.Draw(dc, x, y, std::min<int>(picture_.width(), r.right - x),
                      std::min<int>(picture_.height(), r.bottom - y));
      }
    }
  }
  text_.Draw(dc, r, caption());
}

}  // namespace ui

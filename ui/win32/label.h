#pragma once
// Label: a rectangle in its background colour, its picture tiled from the
// top-left corner and clipped to the label, then its text.
#include "ui/win32/component.h"
#include "ui/win32/skin_bitmap.h"
#include "ui/win32/text_painter.h"

namespace ui {

class Label : public Component {
 public:
  Label(const ComponentRow& row, ComponentHost& host);
  void Paint(HDC dc) override;

 private:
  SkinBitmap picture_;
  TextPainter text_;
};

}  // namespace ui

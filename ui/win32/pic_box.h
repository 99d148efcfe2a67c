#pragma once
// Picture box: shows its picture from its top-left corner, clipped to it.
#include "ui/win32/component.h"
#include "ui/win32/skin_bitmap.h"

namespace ui {

class PicBox : public Component {
 public:
  PicBox(const ComponentRow& row, ComponentHost& host);
  void Paint(HDC dc) override;

 private:
  SkinBitmap picture_;
};

}  // namespace ui

#pragma once
// Transparent label: its text straight over whatever lies behind; with an
// empty text it draws nothing but still takes the mouse (the drag strip).
#include "ui/win32/component.h"
#include "ui/win32/text_painter.h"

namespace ui {

class TransLabel : public Component {
 public:
  TransLabel(const ComponentRow& row, ComponentHost& host);
  void Paint(HDC dc) override;

 private:
  TextPainter text_;
};

}  // namespace ui

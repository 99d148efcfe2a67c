#pragma once
// Text drawing shared by the two label kinds: the component's font (or the
// default GUI font), alignment, effects, no prefix characters, transparent
// background, clipped to the component.
#include "runtime/types.h"
#include "runtime/win32/win.h"
#include "ui/win32/gdi_handles.h"
#include "ui/window_template.h"

namespace ui {

class TextPainter {
 public:
  explicit TextPainter(const ComponentRow& row);
  void Draw(HDC dc, const RECT& area, const rt::Text& gbk_text) const;

 private:
  HFONT Font() const;

  const ComponentRow& row_;
  GdiObject<HFONT> own_font_;  // only when the row names a font
};

}  // namespace ui

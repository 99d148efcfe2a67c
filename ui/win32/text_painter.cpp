#include "ui/win32/text_painter.h"

#include <string>

#include "runtime/win32/wide.h"

namespace ui {

TextPainter::TextPainter(const ComponentRow& row) : row_(row) {
  if (row.font.face != nullptr) {
    // Face, height and weight from the template; the character set,
    // precisions and quality are the defaults (proof quality).
    own_font_.reset(CreateFontW(-row.font.height, 0, 0, 0, row.font.weight, FALSE, FALSE, FALSE,
                                DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                                DEFAULT_PITCH | FF_DONTCARE, rt::Wide(row.font.face).c_str()));
  }
}

HFONT TextPainter::Font() const {
  if (own_font_) return own_font_.get();
  return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void TextPainter::Draw(HDC dc, const RECT& area, const rt::Text& gbk_text) const {
  if (gbk_text.empty()) return;
  const std::wstring text = rt::Wide(gbk_text);
  UINT flags = DT_NOPREFIX;
  switch (row_.h_align) {
    case HAlign::kLeft: flags |= DT_LEFT; break;
    case HAlign::kCenter: flags |= DT_CENTER; break;
    case HAlign::kRight: flags |= DT_RIGHT; break;
  }
  if (row_.word_wrap) {
    flags |= DT_WORDBREAK;
  } else {
    flags |= DT_SINGLELINE;
    switch (row_.v_align) {
      case VAlign::kTop: flags |= DT_TOP; break;
      case VAlign::kCenter: flags |= DT_VCENTER; break;
      case VAlign::kBottom: flags |= DT_BOTTOM; break;
    }
  }
  SelectGuard font(dc, Font());
  SetBkMode(dc, TRANSPARENT);
  auto draw_at = [&](int dx, int dy, COLORREF colour) {
    // Copies shifted by an effect stay inside the component as well.
    SetTextColor(dc, colour);
    SavedDC saved(dc);
    IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
    RECT layout = area;
    OffsetRect(&layout, dx, dy);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &layout, flags);
  };
  const COLORREF ink = RGB(row_.text_color.r, row_.text_color.g, row_.text_color.b);
  switch (row_.effect) {
    case TextEffect::kNone:
      draw_at(0, 0, ink);
      break;
    case TextEffect::kRaised:
      draw_at(1, 1, RGB(255, 255, 255));
      draw_at(0, 0, ink);
      break;
    case TextEffect::kSunken:
      draw_at(0, 0, RGB(255, 255, 255));
      draw_at(1, 1, ink);
      break;
    case TextEffect::kShadow:
      draw_at(2, 2, RGB(0, 0, 0));
      draw_at(0, 0, ink);
      break;
  }
}

}  // namespace ui

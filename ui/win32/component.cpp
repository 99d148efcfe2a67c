#include "ui/win32/component.h"

namespace ui {

Component::Component(const ComponentRow& row, ComponentHost& host)
    : row_(row),
      host_(host),
      left_(row.left),
      top_(row.top),
      width_(row.width),
      height_(row.height),
      caption_(row.text),
      visible_(row.visible),
      disabled_(row.disabled) {}

void Component::SetCaption(const rt::Text& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  Repaint();
}

void Component::SetDisabled(bool disabled) {
  if (disabled == disabled_) return;
  disabled_ = disabled;
  Repaint();
}

bool Component::HitTest(POINT pt) const {
  return visible_ && width_ > 0 && height_ > 0 && pt.x >= left_ && pt.x < left_ + width_ &&
         pt.y >= top_ && pt.y < top_ + height_;
}

bool Component::OnLeftDown(POINT) {
  // Labels deliver their press event (the drag strip); nothing else reacts.
  if (!disabled_ && row_.event != EventHandler::kNone) host_.Fire(row_.event);
  return false;
}

void Component::Move(int32_t left, int32_t top, int32_t width) {
  if (left == left_ && top == top_ && width == width_) return;
  Repaint();
  left_ = left;
  top_ = top;
  width_ = width;
  Repaint();
}

}  // namespace ui

#include "ui/win32/pic_button.h"

namespace ui {

PicButton::PicButton(const ComponentRow& row, ComponentHost& host) : Component(row, host) {
  for (int i = 0; i < 4; ++i) faces_[i] = SkinBitmap::Load(row.faces[i]);
}

int PicButton::ShownFace() const {
  if (disabled() && !faces_[3].empty()) return 3;
  return faces_[state_].empty() ? 0 : state_;
}

void PicButton::SetState(State state) {
  if (state == state_) return;
  state_ = state;
  Repaint();
}

void PicButton::Paint(HDC dc) {
  if (!visible() || width() <= 0) return;
  const RECT r = Bounds();
  // Without a disabled face, a disabled button shows the face of the state
  // it kept: the mouse does not move a disabled button out of it.
  const SkinBitmap& face = faces_[ShownFace()];
  const ComponentRow& layout = row();
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (layout.has_key_color) {
    // The key pixels are outside the button: the window shows through.
    face.DrawKeyed(dc, r.left, r.top, w, h, layout.key_color);
  } else {
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    face.Draw(dc, r.left, r.top, w, h);
  }
}

bool PicButton::HitTest(POINT pt) const {
  if (!Component::HitTest(pt)) return false;
  if (!row().has_key_color) return true;
  // The region follows the face shown: key pixels are not part of the button.
  const RECT r = Bounds();
  return !(faces_[ShownFace()].PixelAt(pt.x - r.left, pt.y - r.top) == row().key_color);
}

bool PicButton::OnMouseMove(POINT pt, bool left_down) {
  if (disabled()) return false;
  if (HitTest(pt)) {
    SetState(left_down ? kPressed : kHover);
    return true;
  }
  SetState(kNormal);
  return left_down;  // a held button keeps the capture
}

bool PicButton::OnLeftDown(POINT) {
  if (disabled()) return false;
  SetState(kPressed);
  return true;
}

bool PicButton::OnLeftUp(POINT pt) {
  if (disabled() || !HitTest(pt)) return false;
  SetState(kNormal);
  return true;
}

void PicButton::OnCaptureLost() { SetState(kNormal); }

// The pointer belongs to the component, enabled or not: a disabled button
// ignores clicks and hovering, not the pointer's look.
int PicButton::CursorId() const { return row().cursor; }

}  // namespace ui

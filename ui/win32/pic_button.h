#pragma once
// Picture button: up to four faces (normal, hover, pressed, disabled), the
// mouse captured while the pointer is over it or the button is held, and an
// optional key colour whose pixels belong to whatever lies behind.
#include "ui/win32/component.h"
#include "ui/win32/skin_bitmap.h"

namespace ui {

class PicButton : public Component {
 public:
  enum State { kNormal = 0, kHover = 1, kPressed = 2 };

  PicButton(const ComponentRow& row, ComponentHost& host);

  State state() const { return state_; }
  void Paint(HDC dc) override;
  bool HitTest(POINT pt) const override;
  bool OnMouseMove(POINT pt, bool left_down) override;
  bool OnLeftDown(POINT pt) override;
  bool OnLeftUp(POINT pt) override;
  void OnCaptureLost() override;
  int CursorId() const override;

 private:
  // The face shown now: face 4 when disabled and present, else the face of
  // the state, face 1 for an empty slot.
  int ShownFace() const;
  void SetState(State state);

  SkinBitmap faces_[4];
  State state_ = kNormal;
};

}  // namespace ui

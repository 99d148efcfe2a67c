#pragma once
// A windowless component of the updater window: its row of the template, the
// properties the flow reads and writes, and the painting and mouse hooks the
// window calls. The window paints the components back to front (last created
// first) and gives the mouse to the first created one under the pointer.
#include <cstdint>

#include "runtime/types.h"
#include "runtime/win32/win.h"
#include "ui/window_template.h"

namespace ui {

// What a component needs of the window that holds it.
class ComponentHost {
 public:
  virtual ~ComponentHost() = default;
  virtual HWND Handle() const = 0;
  // Repaints this part of the client area (window coordinates).
  virtual void Invalidate(const RECT& area) = 0;
  // Runs the handler of an event.
  virtual void Fire(EventHandler handler) = 0;
};

class Component {
 public:
  Component(const ComponentRow& row, ComponentHost& host);
  virtual ~Component() = default;
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  const ComponentRow& row() const { return row_; }
  const char* name() const { return row_.name; }
  RECT Bounds() const { return RECT{left_, top_, left_ + width_, top_ + height_}; }

  int32_t left() const { return left_; }
  int32_t top() const { return top_; }
  int32_t width() const { return width_; }
  void SetLeft(int32_t v) { Move(v, top_, width_); }
  void SetTop(int32_t v) { Move(left_, v, width_); }
  void SetWidth(int32_t v) { Move(left_, top_, v); }

  const rt::Text& caption() const { return caption_; }
  void SetCaption(const rt::Text& caption);
  const rt::Text& tag() const { return tag_; }
  void SetTag(const rt::Text& tag) { tag_ = tag; }
  bool visible() const { return visible_; }
  bool disabled() const { return disabled_; }
  virtual void SetDisabled(bool disabled);

  // Painting onto the window's memory DC, in window coordinates.
  virtual void Paint(HDC) {}
  // True when the point (window coordinates) belongs to this component.
  virtual bool HitTest(POINT pt) const;

  // Mouse hooks; the window routes them. A hook that returns true keeps or
  // takes the mouse capture for this component.
  virtual bool OnMouseMove(POINT, bool /*left_down*/) { return false; }
  virtual bool OnLeftDown(POINT);
  // Returns true when the release is a click.
  virtual bool OnLeftUp(POINT) { return false; }
  virtual void OnCaptureLost() {}
  // The standard cursor to show over the component, 0 for the arrow.
  virtual int CursorId() const { return 0; }

 protected:
  ComponentHost& host() const { return host_; }
  void Repaint() { host_.Invalidate(Bounds()); }

 private:
  void Move(int32_t left, int32_t top, int32_t width);

  const ComponentRow& row_;
  ComponentHost& host_;
  int32_t left_, top_, width_, height_;
  rt::Text caption_;
  rt::Text tag_;
  bool visible_;
  bool disabled_;
};

}  // namespace ui

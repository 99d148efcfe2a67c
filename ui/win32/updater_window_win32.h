#pragma once
// The updater window: one object per HWND, built from the window template.
// It owns the skin and the components, paints them through one memory DC,
// routes the mouse to them, fires their events and is the flow's WindowPort.
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "runtime/win32/win.h"
#include "ui/progress_display.h"
#include "ui/updater_window.h"
#include "ui/win32/component.h"
#include "ui/win32/skin_bitmap.h"
#include "ui/window_port.h"

namespace ui {

class TimerComponent;

// Windows of the program that exist now.
int OpenWindowCount();

class UpdaterWindow final : public WindowPort, public ComponentHost {
 public:
  // Creates, centres and shows the window; nullptr on failure. The object
  // lives until the process ends, so the port stays valid after the window
  // is gone (calls then do nothing and reads give empty values).
  static UpdaterWindow* Create(const FlowBindings& bindings);

  // WindowPort: safe from any thread; other threads wait for the window
  // thread to run the call.
  void SetCaption(const rt::Text& component, const rt::Text& caption) override;
  rt::Text Caption(const rt::Text& component) override;
  void SetLeft(const rt::Text& component, int32_t left) override;
  void SetTop(const rt::Text& component, int32_t top) override;
  void SetWidth(const rt::Text& component, int32_t width) override;
  int32_t Left(const rt::Text& component) override;
  int32_t Top(const rt::Text& component) override;
  int32_t Width(const rt::Text& component) override;
  void SetDisabled(const rt::Text& component, bool disabled) override;
  bool Disabled(const rt::Text& component) override;
  void SetTimerInterval(const rt::Text& component, int32_t interval_ms) override;
  int32_t TimerInterval(const rt::Text& component) override;
  void TickNow(const rt::Text& component) override;
  void SetTag(const rt::Text& component, const rt::Text& tag) override;
  rt::Text Tag(const rt::Text& component) override;
  void EnableVisualStyles() override;
  void Minimize() override;
  void BeginDrag() override;
  void Close() override;

  // A command marshalled from another thread: lParam is a std::function<void()>*.
  static constexpr UINT kRunCommandMessage = WM_APP + 1;
  // The first activation, handled once the activation itself is through.
  static constexpr UINT kFirstActivationMessage = WM_APP + 2;

  // ComponentHost.
  HWND Handle() const override { return hwnd_.load(); }
  void Invalidate(const RECT& area) override;
  void Fire(EventHandler handler) override;

 private:
  explicit UpdaterWindow(const FlowBindings& bindings);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  void CreateComponents();
  void OnPaint();
  void OnMouseMove(POINT pt, bool left_down);
  void OnLeftDown(POINT pt);
  void OnLeftUp(POINT pt);
  void OnCaptureChanged(HWND new_owner);
  bool OnSetCursor();
  void OnTimer(UINT_PTR id);
  void OnActivate(WPARAM wparam);
  void OnDestroy();

  // The component under a point: the first created one that takes it.
  Component* TopmostAt(POINT pt) const;
  Component* Find(const rt::Text& name) const;
  TimerComponent* FindTimer(const rt::Text& name) const;
  // Gives up the mouse capture a component holds.
  void DropMouse();
  // Runs `command` on the window thread; waits for it from other threads.
  void RunOnWindowThread(const std::function<void()>& command);

  FlowBindings bindings_;
  ProgressDisplay progress_;  // the progress timer's handler and its speed meter
  std::atomic<HWND> hwnd_{nullptr};
  DWORD thread_id_ = 0;
  SkinBitmap background_;
  std::vector<std::unique_ptr<Component>> components_;  // creation order
  Component* mouse_owner_ = nullptr;  // holds the capture (hover or press)
  bool activated_once_ = false;
};

}  // namespace ui

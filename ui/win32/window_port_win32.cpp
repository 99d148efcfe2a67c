// The WindowPort of the updater window: component properties by name, each
// call run on the window thread (a synchronous message from other threads).
#include "ui/win32/updater_window_win32.h"

#include <commctrl.h>

#include <cstring>

#include "ui/win32/timer_component.h"

namespace ui {

void UpdaterWindow::RunOnWindowThread(const std::function<void()>& command) {
  if (GetCurrentThreadId() == thread_id_) {
    command();
    return;
  }
  // SendMessage returns once the window thread has run the command; the
  // window thread never waits for the worker, so this cannot deadlock. A
  // window that is gone runs nothing.
  const HWND hwnd = hwnd_.load();
  if (hwnd) SendMessageW(hwnd, kRunCommandMessage, 0, reinterpret_cast<LPARAM>(&command));
}

Component* UpdaterWindow::Find(const rt::Text& name) const {
  for (const auto& component : components_) {
    if (std::strcmp(component->name(), name.c_str()) == 0) return component.get();
  }
  return nullptr;
}

TimerComponent* UpdaterWindow::FindTimer(const rt::Text& name) const {
  Component* component = Find(name);
  if (!component || component->row().kind != ComponentKind::kTimer) return nullptr;
  return static_cast<TimerComponent*>(component);
}

void UpdaterWindow::SetCaption(const rt::Text& component, const rt::Text& caption) {
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) c->SetCaption(caption);
  });
}

rt::Text UpdaterWindow::Caption(const rt::Text& component) {
  rt::Text caption;
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) caption = c->caption();
  });
  return caption;
}

void UpdaterWindow::SetLeft(const rt::Text& component, int32_t left) {
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) c->SetLeft(left);
  });
}

void UpdaterWindow::SetTop(const rt::Text& component, int32_t top) {
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) c->SetTop(top);
  });
}

void UpdaterWindow::SetWidth(const rt::Text& component, int32_t width) {
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) c->SetWidth(width);
  });
}

int32_t UpdaterWindow::Left(const rt::Text& component) {
  int32_t value = 0;
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) value = c->left();
  });
  return value;
}

int32_t UpdaterWindow::Top(const rt::Text& component) {
  int32_t value = 0;
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) value = c->top();
  });
  return value;
}

int32_t UpdaterWindow::Width(const rt::Text& component) {
  int32_t value = 0;
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) value = c->width();
  });
  return value;
}

void UpdaterWindow::SetDisabled(const rt::Text& component, bool disabled) {
  RunOnWindowThread([&] {
    Component* c = Find(component);
    if (!c) return;
    // A button being disabled keeps its face but lets go of the mouse.
    if (disabled && c == mouse_owner_) {
      mouse_owner_ = nullptr;
      if (GetCapture() == hwnd_.load()) ReleaseCapture();
    }
    c->SetDisabled(disabled);
  });
}

bool UpdaterWindow::Disabled(const rt::Text& component) {
  bool value = false;
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) value = c->disabled();
  });
  return value;
}

void UpdaterWindow::SetTimerInterval(const rt::Text& component, int32_t interval_ms) {
  RunOnWindowThread([&] {
    if (TimerComponent* timer = FindTimer(component)) timer->SetInterval(interval_ms);
  });
}

void UpdaterWindow::TickNow(const rt::Text& component) {
  RunOnWindowThread([&] {
    TimerComponent* timer = FindTimer(component);
    if (timer && timer->interval() > 0) Fire(timer->row().event);
  });
}

int32_t UpdaterWindow::TimerInterval(const rt::Text& component) {
  int32_t value = 0;
  RunOnWindowThread([&] {
    if (TimerComponent* timer = FindTimer(component)) value = timer->interval();
  });
  return value;
}

void UpdaterWindow::SetTag(const rt::Text& component, const rt::Text& tag) {
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) c->SetTag(tag);
  });
}

rt::Text UpdaterWindow::Tag(const rt::Text& component) {
  rt::Text tag;
  RunOnWindowThread([&] {
    if (Component* c = Find(component)) tag = c->tag();
  });
  return tag;
}

void UpdaterWindow::EnableVisualStyles() {
  RunOnWindowThread([] {
    // With the Common Controls 6 manifest of the executable, this registers
    // the themed control classes for this thread.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
  });
}

void UpdaterWindow::Minimize() {
  RunOnWindowThread([&] {
    const HWND hwnd = hwnd_.load();
    if (hwnd && IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_MINIMIZE);
  });
}

void UpdaterWindow::BeginDrag() {
  RunOnWindowThread([&] {
    const HWND hwnd = hwnd_.load();
    if (!hwnd) return;
    DropMouse();
    // A press on a caption bar: the system moves the window until release.
    SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
  });
}

void UpdaterWindow::Close() {
  const HWND hwnd = hwnd_.load();
  if (hwnd) PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

}  // namespace ui

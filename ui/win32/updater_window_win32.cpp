#include "ui/win32/updater_window_win32.h"

#include <windowsx.h>

#include <atomic>

#include "runtime/process.h"
#include "runtime/win32/wide.h"
#include "ui/win32/gdi_handles.h"
#include "ui/win32/label.h"
#include "ui/win32/pic_box.h"
#include "ui/win32/pic_button.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/timer_component.h"
#include "ui/win32/trans_label.h"
#include "ui/window_events.h"
#include "ui/window_template.h"

namespace ui {
namespace {

constexpr wchar_t kWindowClass[] = L"UpdaterSkinWindow";
constexpr UINT_PTR kFirstTimerId = 1;

std::atomic<int> g_open_windows{0};

bool RegisterWindowClass(WNDPROC proc) {
  static bool registered = false;
  if (registered) return true;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(UI_IDI_UPDATER), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(UI_IDI_UPDATER), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                             LR_SHARED));
  wc.lpszClassName = kWindowClass;
  registered = RegisterClassExW(&wc) != 0;
  return registered;
}

}  // namespace

int OpenWindowCount() { return g_open_windows.load(); }

UpdaterWindow::UpdaterWindow(const FlowBindings& bindings) : bindings_(bindings) {}

UpdaterWindow* UpdaterWindow::Create(const FlowBindings& bindings) {
  if (!RegisterWindowClass(&UpdaterWindow::WindowProc)) return nullptr;
  const WindowRow& layout = kUpdaterWindow;
  // Lives until the process ends: the flow may hold the port after closing.
  auto* window = new UpdaterWindow(bindings);
  window->thread_id_ = GetCurrentThreadId();
  window->background_ = SkinBitmap::Load(layout.background);

  int left = layout.stored_left, top = layout.stored_top;
  if (layout.centred) {
    left = (GetSystemMetrics(SM_CXSCREEN) - layout.client_width) / 2;
    top = (GetSystemMetrics(SM_CYSCREEN) - layout.client_height) / 2;
  }
  // Frameless: no caption, border, system menu or boxes; client = window.
  HWND hwnd = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, rt::Wide(layout.title).c_str(),
                              WS_POPUP | WS_CLIPCHILDREN, left, top, layout.client_width, layout.client_height,
                              nullptr, nullptr, GetModuleHandleW(nullptr), window);
  if (!hwnd) {
    delete window;
    return nullptr;
  }
  window->CreateComponents();
  window->Fire(layout.on_created);
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  return window;
}

void UpdaterWindow::CreateComponents() {
  UINT_PTR next_timer = kFirstTimerId;
  for (std::size_t i = 0; i < kUpdaterComponentCount; ++i) {
    const ComponentRow& row = kUpdaterComponents[i];
    switch (row.kind) {
      case ComponentKind::kPicBtn:
        components_.push_back(std::make_unique<PicButton>(row, *this));
        break;
      case ComponentKind::kTransLabel:
        components_.push_back(std::make_unique<TransLabel>(row, *this));
        break;
      case ComponentKind::kLabel:
        components_.push_back(std::make_unique<Label>(row, *this));
        break;
      case ComponentKind::kPicBox:
        components_.push_back(std::make_unique<PicBox>(row, *this));
        break;
      case ComponentKind::kTimer:
        components_.push_back(std::make_unique<TimerComponent>(row, *this, next_timer++));
        break;
    }
  }
}

LRESULT CALLBACK UpdaterWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* window = static_cast<UpdaterWindow*>(create->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    window->hwnd_.store(hwnd);
    g_open_windows.fetch_add(1);
  }
  auto* window = reinterpret_cast<UpdaterWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!window) return DefWindowProcW(hwnd, message, wparam, lparam);
  return window->HandleMessage(message, wparam, lparam);
}

LRESULT UpdaterWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  const HWND hwnd = hwnd_.load();
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the paint covers everything
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(POINT{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)}, (wparam & MK_LBUTTON) != 0);
      return 0;
    case WM_LBUTTONDOWN:
      OnLeftDown(POINT{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)});
      return 0;
    case WM_LBUTTONUP:
      OnLeftUp(POINT{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)});
      return 0;
    case WM_CAPTURECHANGED:
      OnCaptureChanged(reinterpret_cast<HWND>(lparam));
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lparam) == HTCLIENT && OnSetCursor()) return TRUE;
      break;
    case WM_TIMER:
      OnTimer(wparam);
      return 0;
    case WM_ACTIVATE:
      OnActivate(wparam);
      break;
    case WM_CONTEXTMENU:
      OnContextMenu(lparam);
      return 0;
    case WM_COMMAND:
      // The right-click menu's choice (also what a posted command gives).
      if (HIWORD(wparam) == 0 && lparam == 0 && bindings_.menu_command) {
        bindings_.menu_command(static_cast<int32_t>(LOWORD(wparam)));
        return 0;
      }
      break;
    case kFirstActivationMessage:
      Fire(kUpdaterWindow.on_first_activation);
      return 0;
    case kRunCommandMessage:
      (*reinterpret_cast<const std::function<void()>*>(lparam))();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      hwnd_.store(nullptr);
      if (g_open_windows.fetch_sub(1) == 1) PostQuitMessage(0);
      return DefWindowProcW(hwnd, message, wparam, lparam);
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// The flow's menu at the mouse (or, from the keyboard, at the window's
// middle); the choice comes back as WM_COMMAND. The skin is left as it is.
void UpdaterWindow::OnContextMenu(LPARAM lparam) {
  if (!bindings_.menu_items) return;
  const HWND hwnd = hwnd_.load();
  POINT at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  if (lparam == -1) {
    RECT area;
    GetWindowRect(hwnd, &area);
    at = POINT{(area.left + area.right) / 2, (area.top + area.bottom) / 2};
  }
  const HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  for (const MenuItem& item : bindings_.menu_items()) {
    if (item.id == 0) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    const UINT flags = MF_STRING | (item.checked ? MF_CHECKED : 0u) | (item.disabled ? MF_GRAYED : 0u);
    AppendMenuW(menu, flags, static_cast<UINT_PTR>(item.id), rt::Wide(item.text).c_str());
  }
  // The window must be in front for the menu to close when the mouse
  // clicks elsewhere.
  SetForegroundWindow(hwnd);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, at.x, at.y, 0, hwnd, nullptr);
  PostMessageW(hwnd, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

void UpdaterWindow::OnPaint() {
  const HWND hwnd = hwnd_.load();
  PaintScope paint(hwnd);
  RECT client;
  GetClientRect(hwnd, &client);
  // Everything goes to a memory DC first and reaches the screen in one blit.
  MemoryDC memory(paint.dc());
  GdiObject<HBITMAP> canvas(CreateCompatibleBitmap(paint.dc(), client.right, client.bottom));
  if (!memory || !canvas) return;
  SelectGuard select(memory.get(), canvas.get());
  // Only the area to paint reaches the screen, and most paints are one label
  // or the bar: the rest is clipped away and components outside it are not
  // drawn at all (many small files change the labels many times a second).
  const RECT& area = paint.area();
  IntersectClipRect(memory.get(), area.left, area.top, area.right, area.bottom);
  FillRect(memory.get(), &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  background_.Draw(memory.get(), 0, 0, client.right, client.bottom);
  // Earlier components lie above later ones: paint from the last.
  for (auto it = components_.rbegin(); it != components_.rend(); ++it) {
    const RECT bounds = (*it)->Bounds();
    RECT overlap;
    if (IntersectRect(&overlap, &bounds, &area)) (*it)->Paint(memory.get());
  }
  BitBlt(paint.dc(), area.left, area.top, area.right - area.left, area.bottom - area.top, memory.get(), area.left,
         area.top, SRCCOPY);
}

Component* UpdaterWindow::TopmostAt(POINT pt) const {
  for (const auto& component : components_) {
    if (component->HitTest(pt)) return component.get();
  }
  return nullptr;
}

void UpdaterWindow::OnMouseMove(POINT pt, bool left_down) {
  if (mouse_owner_) {
    if (mouse_owner_->OnMouseMove(pt, left_down)) return;
    // The pointer left the button: the capture goes, another may take it.
    mouse_owner_ = nullptr;
    ReleaseCapture();
  }
  Component* target = TopmostAt(pt);
  if (target && target->OnMouseMove(pt, left_down)) {
    mouse_owner_ = target;
    SetCapture(hwnd_.load());
  }
}

void UpdaterWindow::OnLeftDown(POINT pt) {
  Component* target = TopmostAt(pt);
  if (mouse_owner_ && mouse_owner_ != target) DropMouse();
  if (!target) return;
  if (target->OnLeftDown(pt)) {
    mouse_owner_ = target;
    if (GetCapture() != hwnd_.load()) SetCapture(hwnd_.load());
  }
}

void UpdaterWindow::OnLeftUp(POINT pt) {
  Component* owner = mouse_owner_;
  if (!owner) return;
  const bool click = owner->OnLeftUp(pt);
  mouse_owner_ = nullptr;
  ReleaseCapture();
  // The click runs after the capture is gone: its handler may open a box.
  if (click) Fire(owner->row().event);
}

void UpdaterWindow::OnCaptureChanged(HWND new_owner) {
  if (new_owner == hwnd_.load() || !mouse_owner_) return;
  Component* owner = mouse_owner_;
  mouse_owner_ = nullptr;
  owner->OnCaptureLost();
}

void UpdaterWindow::DropMouse() {
  Component* owner = mouse_owner_;
  mouse_owner_ = nullptr;
  if (owner) owner->OnCaptureLost();
  if (GetCapture() == hwnd_.load()) ReleaseCapture();
}

bool UpdaterWindow::OnSetCursor() {
  POINT pt;
  if (!GetCursorPos(&pt) || !ScreenToClient(hwnd_.load(), &pt)) return false;
  Component* target = TopmostAt(pt);
  const int id = target ? target->CursorId() : 0;
  if (id == 0) return false;
  // The hand is the program's own image; other pointers are the system's.
  HCURSOR cursor = id == kHandCursor
                       ? LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(UI_IDC_HAND))
                       : LoadCursorW(nullptr, MAKEINTRESOURCEW(id));
  if (!cursor) return false;
  SetCursor(cursor);
  return true;
}

void UpdaterWindow::OnTimer(UINT_PTR id) {
  for (const auto& component : components_) {
    if (component->row().kind != ComponentKind::kTimer) continue;
    auto* timer = static_cast<TimerComponent*>(component.get());
    if (timer->timer_id() == id && timer->interval() > 0) Fire(timer->row().event);
  }
}

void UpdaterWindow::OnActivate(WPARAM wparam) {
  if (LOWORD(wparam) == WA_INACTIVE || activated_once_) return;
  activated_once_ = true;
  // Handled from the queue, so that it runs after the activation is through
  // and after LoadUpdaterWindow has handed the port to the flow.
  PostMessageW(hwnd_.load(), kFirstActivationMessage, 0, 0);
}

void UpdaterWindow::OnDestroy() {
  mouse_owner_ = nullptr;
  for (const auto& component : components_) {
    if (component->row().kind == ComponentKind::kTimer) {
      auto* timer = static_cast<TimerComponent*>(component.get());
      timer->SetInterval(0);
    }
  }
}

void UpdaterWindow::Invalidate(const RECT& area) {
  const HWND hwnd = hwnd_.load();
  if (hwnd) InvalidateRect(hwnd, &area, FALSE);
}

void UpdaterWindow::Fire(EventHandler handler) {
  switch (handler) {
    case EventHandler::kNone:
      return;
    case EventHandler::kResetProgressBar:
      ResetProgressBar(*this);
      return;
    case EventHandler::kCheckRemoteVersion:
      if (bindings_.check_remote_version) bindings_.check_remote_version();
      return;
    case EventHandler::kConfirmExit:
      ConfirmExit(bindings_.download_thread ? bindings_.download_thread() : 0);
      return;
    case EventHandler::kMinimizeWindow:
      MinimizeWindow(*this);
      return;
    case EventHandler::kDragWindow:
      DragWindow(*this);
      return;
    case EventHandler::kLaunchGame:
      if (bindings_.launch_game) bindings_.launch_game();
      return;
    case EventHandler::kDownloadProgressTimer:
      if (bindings_.job) progress_.Tick(*this, *bindings_.job, rt::TickCount());
      return;
  }
}

}  // namespace ui

// Loading the updater window and the message loop of the window thread.
#include "runtime/win32/win.h"
#include "ui/updater_window.h"
#include "ui/win32/updater_window_win32.h"

namespace ui {

WindowPort* LoadUpdaterWindow(const FlowBindings& bindings) { return UpdaterWindow::Create(bindings); }

bool AnyWindowOpen() { return OpenWindowCount() > 0; }

void RunMessageLoop() {
  MSG msg;
  while (OpenWindowCount() > 0 && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace ui

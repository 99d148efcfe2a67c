#include "ui/window_events.h"

#include "runtime/dialog.h"
#include "runtime/process.h"

namespace ui {

void ResetProgressBar(WindowPort& port) {
  port.EnableVisualStyles();
  port.SetWidth(kProgressFill, 0);
  port.SetTop(kProgressFill, port.Top(kProgressBackground));
  port.SetLeft(kProgressFill, port.Left(kProgressBackground));
}

ExitSteps ExitSteps::System() {
  ExitSteps steps;
  steps.ask = [](const rt::Text& content, uint32_t flags, const rt::Text& caption) {
    return rt::ShowMessage(content, flags, caption);
  };
  steps.kill_thread = [](rt::ThreadHandle thread) { return rt::KillThread(thread); };
  steps.end_program = [](int32_t code) { rt::EndProgramNow(code); };
  return steps;
}

void ConfirmExit(rt::ThreadHandle download_thread, const ExitSteps& steps) {
  const int32_t answer =
      steps.ask("确定要退出更新程序嘛？", rt::kMsgYesNo | rt::kMsgIconInformation, "确认退出");
  if (answer != rt::kResultYes) return;
  if (download_thread != 0) steps.kill_thread(download_thread);
  steps.end_program(0);
}

void MinimizeWindow(WindowPort& port) { port.Minimize(); }

void DragWindow(WindowPort& port) { port.BeginDrag(); }

}  // namespace ui

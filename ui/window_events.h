#pragma once
// The window's own event handlers. They work only through the WindowPort and
// the runtime, so they are the same code on every system and are tested with
// a recording port.
#include <cstdint>
#include <functional>

#include "runtime/thread.h"
#include "runtime/types.h"
#include "ui/download_job.h"
#include "ui/window_port.h"

namespace ui {

// Created event: visual styles on, then the progress fill parked at width 0 on
// the top-left corner of the bar background (width, top, left in that order).
void ResetProgressBar(WindowPort& port);

// The three system steps of the exit confirmation; tests replace them.
struct ExitSteps {
  std::function<int32_t(const rt::Text& content, uint32_t flags, const rt::Text& caption)> ask;
  std::function<bool(rt::ThreadHandle)> kill_thread;
  std::function<void(int32_t exit_code)> end_program;

  // rt::ShowMessage, rt::KillThread and rt::EndProgramNow.
  static ExitSteps System();
};

// Close click: asks "确定要退出更新程序嘛？"; on Yes kills the download thread
// (a missing thread fails silently) and ends the process at once. The end
// skips exit handlers: the killed worker may hold the heap lock.
void ConfirmExit(rt::ThreadHandle download_thread, const ExitSteps& steps = ExitSteps::System());

// Minimise click.
void MinimizeWindow(WindowPort& port);

// Drag-strip press: hands the mouse to the system's window move.
void DragWindow(WindowPort& port);


}  // namespace ui

#pragma once
// Loading the updater window and running its message loop. The window binds
// its own events (created, close, minimise, drag, progress timer) and calls
// the flow through these bindings for the rest.
#include <functional>

#include "runtime/thread.h"
#include "ui/download_job.h"
#include "ui/window_port.h"

namespace ui {

struct FlowBindings {
  std::function<void()> check_remote_version;         // first activation
  std::function<void()> launch_game;                  // enter-game click
  std::function<rt::ThreadHandle()> download_thread;  // read by the exit confirmation
  DownloadJob* job = nullptr;                         // read by the progress timer
};

// Creates the updater window from its template, shown and centred. Returns
// its port (owned by the ui layer, valid until the process ends), or nullptr
// when the window could not be created.
WindowPort* LoadUpdaterWindow(const FlowBindings& bindings);
// True while a window of the program is open.
bool AnyWindowOpen();
// Runs the message loop until the last window is destroyed.
void RunMessageLoop();

}  // namespace ui

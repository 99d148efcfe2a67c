#pragma once
// Loading the updater window and running its message loop. The window binds
// its own events (created, close, minimise, drag, progress timer) and calls
// the flow through these bindings for the rest.
#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/thread.h"
#include "ui/download_job.h"
#include "ui/window_port.h"

namespace ui {

// One item of the window's right-click menu; id 0 is a separator. The
// chosen item's id goes back to the flow through FlowBindings::menu_command.
struct MenuItem {
  int32_t id = 0;
  rt::Text text;
  bool checked = false;
  bool disabled = false;
};

struct FlowBindings {
  std::function<void()> check_remote_version;         // first activation
  std::function<void()> launch_game;                  // enter-game click
  std::function<rt::ThreadHandle()> download_thread;  // read by the exit confirmation
  DownloadJob* job = nullptr;                         // read by the progress timer
  std::function<std::vector<MenuItem>()> menu_items;  // the right-click menu, as it is now
  std::function<void(int32_t id)> menu_command;       // an item chosen from it
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

#pragma once
// The updater process wired in one place: it owns the shared state, the
// flow with its services, the window the flow drives (through its port) and
// the worker thread of the download run. The process entry creates one and
// runs it. Portable code: the window and the threads are reached through
// ui/ and runtime/ only.
#include "app/flow.h"
#include "app/run/link_control.h"
#include "app/shared_state.h"
#include "net/socket_session.h"
#include "runtime/thread.h"

namespace app {

class Updater {
 public:
  Updater();
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // The process entry in its fixed order: the run directory as the current
  // folder, the socket layer, one updater per folder, the start-up routine,
  // then the message loop while a window is open. Returns the exit code; the
  // launcher role, a wrong marker and a second updater in the folder end the
  // program inside.
  int Run();

 private:
  void LoadWindow();
  // Starts RunPatchDownloads on the worker thread, its handle kept for the
  // exit confirmation; true when it started.
  bool StartDownloadRun();
  static void DownloadThreadBody(void* updater);

  net::SocketSession sockets_;  // started by Run, cleaned up when the updater goes
  SharedState state_;           // created empty, released when the updater goes
  Flow flow_;                   // sees state_; its window is set when the window loads
  LinkControl link_;            // the window's menu commands, for the download run
  rt::ScopedThread download_thread_;  // the download run's worker, once started
};

}  // namespace app

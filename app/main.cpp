// The process entry of updater.exe, in its fixed order: run directory as the
// current folder, the shared globals, the socket layer, the start-up routine,
// then the message loop while a window is open.
#include <cstdlib>

#include "app/flow.h"
#include "app/globals.h"
#include "app/program_start.h"
#include "net/socket_globals.h"
#include "runtime/dialog.h"
#include "runtime/files.h"
#include "runtime/instance.h"
#include "ui/window_template.h"
#include "runtime/process.h"
#include "runtime/thread.h"
#include "ui/updater_window.h"

namespace {

app::Flow* g_flow = nullptr;

void DownloadThreadBody(void* flow) { app::RunPatchDownloads(*static_cast<app::Flow*>(flow)); }

void LoadWindow(app::Flow& flow) {
  ui::FlowBindings bindings;
  bindings.check_remote_version = [&flow] { app::CheckRemoteVersion(flow); };
  bindings.launch_game = [&flow] { app::LaunchGame(flow); };
  bindings.download_thread = [&flow] { return flow.globals.DownloadThread; };
  bindings.job = &flow.globals.Job;
  flow.window = ui::LoadUpdaterWindow(bindings);
}

}  // namespace

int main() {
  // A folder whose name GBK cannot write, and that has no short form, would
  // turn into "?" and every file operation would miss: say so, never end
  // silently.
  if (rt::RunDirectory().empty() || rt::ExecutableName().empty()) {
    rt::ShowMessage(app::kTextFolderUnusable, rt::kMsgOk | rt::kMsgIconError, app::kCaptionError);
    rt::EndProgram(1);
  }
  rt::SetCurrentFolder(rt::RunDirectory());

  app::Globals& globals = app::CreateGlobals();

  net::GlobalSocketSession().Startup();

  g_flow = new app::Flow{globals, nullptr, app::RealServices()};
  const rt::TextArray args = rt::CommandLineArguments();
  const bool launcher = args.size() < 2;
  g_flow->services.log(launcher ? "start: launcher " + rt::ExecutableName()
                                : "start: updater, started by " + args[1]);
  // One updater per client folder: a second one started here shows the
  // running one and ends before it touches anything.
  const rt::InstanceLock lock(rt::RunDirectory(), launcher ? app::kLauncherLockWaitMs : app::kUpdaterLockWaitMs);
  if (!lock.Owned()) {
    const bool shown = rt::BringProgramWindowToFront(rt::RunDirectory(), ui::kUpdaterWindow.title);
    g_flow->services.log(shown ? "another updater runs in this folder: its window was brought to the front"
                               : "another updater runs in this folder: ending");
    rt::EndProgram(0);
  }

  g_flow->services.start_download_run = [] {
    return rt::StartThread(DownloadThreadBody, g_flow, &g_flow->globals.DownloadThread);
  };
  app::StartRole role = app::ProgramStart(
      args, rt::RunDirectory(), rt::ExecutableName(), globals,
      [](const rt::Text& command_line) { return rt::RunProgram(command_line, false); },
      [] { LoadWindow(*g_flow); });
  if (role != app::StartRole::kUpdater) rt::EndProgram(0);

  if (ui::AnyWindowOpen()) ui::RunMessageLoop();
  // The window can also be closed by the system (Alt+F4) while the download
  // run is still going: then end at once, as the exit confirmation does; the
  // partial file is resumed by the next run.
  if (globals.DownloadThread != 0) rt::EndProgramNow(0);
  delete g_flow;
  app::ReleaseGlobals();
  return 0;
}

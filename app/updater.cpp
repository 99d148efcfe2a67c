#include "app/updater.h"

#include "app/start/program_start.h"
#include "runtime/dialog.h"
#include "runtime/files.h"
#include "runtime/instance.h"
#include "runtime/process.h"
#include "runtime/thread.h"
#include "ui/updater_window.h"
#include "ui/window_template.h"

namespace app {

Updater::Updater()
    : flow_{state_, nullptr, RealServices(state_, [this] { return StartDownloadRun(); }), RunSettings()},
      link_(flow_.services) {
  flow_.link = &link_;
}

void Updater::DownloadThreadBody(void* updater) { RunPatchDownloads(static_cast<Updater*>(updater)->flow_); }

bool Updater::StartDownloadRun() { return rt::StartThread(DownloadThreadBody, this, download_thread_.receive()); }

void Updater::LoadWindow() {
  ui::FlowBindings bindings;
  bindings.check_remote_version = [this] { CheckRemoteVersion(flow_); };
  bindings.launch_game = [this] { LaunchGame(flow_); };
  bindings.download_thread = [this] { return download_thread_.get(); };
  bindings.job = &state_.Job;
  bindings.menu_items = [this] { return link_.MenuItems(); };
  bindings.menu_command = [this](int32_t id) { link_.Command(id); };
  flow_.window = ui::LoadUpdaterWindow(bindings);
}

int Updater::Run() {
  // A folder whose name GBK cannot write, and that has no short form, would
  // turn into "?" and every file operation would miss: say so, never end
  // silently.
  if (rt::RunDirectory().empty() || rt::ExecutableName().empty()) {
    rt::ShowMessage(kTextFolderUnusable, rt::kMsgOk | rt::kMsgIconError, kCaptionError);
    rt::EndProgram(1);
  }
  // The client folder, named once: every file of the client is found
  // through it, and it is the current folder too.
  state_.Client = ClientFolder(rt::RunDirectory());
  rt::SetCurrentFolder(state_.Client.Folder());

  sockets_.Startup();

  const rt::TextArray args = rt::CommandLineArguments();
  const bool launcher = args.size() < 2;
  flow_.services.log(launcher ? "start: launcher " + rt::ExecutableName() : "start: updater, started by " + args[1]);
  // One updater per client folder: a second one started here shows the
  // running one and ends before it touches anything.
  const rt::InstanceLock lock(state_.Client.Folder(), launcher ? kLauncherLockWaitMs : kUpdaterLockWaitMs);
  if (!lock.Owned()) {
    const bool shown = rt::BringProgramWindowToFront(state_.Client.Folder(), ui::kUpdaterWindow.title);
    flow_.services.log(shown ? "another updater runs in this folder: its window was brought to the front"
                             : "another updater runs in this folder: ending");
    rt::EndProgram(0);
  }

  StartSteps steps = StartSteps::System();
  steps.load_window = [this] { LoadWindow(); };
  steps.log = flow_.services.log;
  const StartRole role = ProgramStart(args, rt::ExecutableName(), state_, steps);
  if (role == StartRole::kCopyFailed) rt::EndProgram(1);
  if (role != StartRole::kUpdater) rt::EndProgram(0);

  if (ui::AnyWindowOpen()) ui::RunMessageLoop();
  // The window can also be closed by the system (Alt+F4) while the download
  // run is still going: then end at once, as the exit confirmation does; the
  // partial file is resumed by the next run.
  if (download_thread_) rt::EndProgramNow(0);
  return 0;
}

}  // namespace app

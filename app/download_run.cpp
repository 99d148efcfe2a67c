// The download run, on the worker thread: every patch entry in turn into the
// client folder, then restart the launcher and end.
#include "app/file_checksum.h"
#include "app/flow.h"
#include "net/url_escape.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/text.h"

namespace app {
namespace {

constexpr int32_t kTimerIntervalMs = 100;
constexpr int32_t kWaitBeforeFileMs = 100;

// Stops the run with its failure text standing: no restart, so a patch that
// fails every time cannot restart the updater without end.
void FailRun(Flow& flow) {
  ui::WindowPort& window = *flow.window;
  window.SetTimerInterval(ui::kProgressTimer, 0);
  window.SetCaption(ui::kCurrentTaskLabel, kTextDownloadFailed);
  window.SetDisabled(ui::kEnterGameButton, true);
}

}  // namespace

rt::Text ParentFolderOf(const rt::Text& path) {
  const size_t slash = rt::FindLastChar(path, '\\');
  return slash == rt::Text::npos ? rt::Text() : path.substr(0, slash);
}

rt::Text PatchUrl(const Globals& globals, const rt::Text& entry) {
  return globals.ServerBaseUrl + "patch/" + rt::ToText(globals.PatchFolderNumber) + "/" +
         rt::ReplaceChar(entry, '\\', '/');  // a trail byte 0x5C is no separator
}

void RunPatchDownloads(Flow& flow) {
  Globals& g = flow.globals;
  ui::DownloadJob& job = g.Job;
  ui::WindowPort& window = *flow.window;

  window.SetTimerInterval(ui::kProgressTimer, kTimerIntervalMs);
  job.fileCount = static_cast<int32_t>(g.PatchList.size());
  for (int32_t i = 1; i <= job.fileCount; ++i) {
    const PatchEntry& entry = g.PatchList[static_cast<size_t>(i - 1)];
    window.SetCaption(ui::kCurrentTaskLabel, entry.path);
    rt::Text local_path = g.LocalBaseFolder + entry.path;
    rt::CreateFolderTree(ParentFolderOf(local_path));
    rt::Text url = PatchUrl(g, entry.path);
    // A read-only target (a client copied from a disc) is replaced like any
    // other; one held open stays, and the engine reports the failed install.
    rt::MakeWritable(local_path);
    rt::RemoveFile(local_path);
    flow.services.delay(kWaitBeforeFileMs);

    job.status = ui::JobStatus::kDownloading;
    job.currentFile = local_path;
    job.totalBytes = 0;
    job.doneBytes = 0;
    window.SetWidth(ui::kProgressFill, 0);
    job.fileIndex = i;

    int32_t result = flow.services.download(net::EscapeUrl(url), local_path, job.totalBytes, job.doneBytes);
    // A file that arrived but does not match its list checksum is a failed
    // download too: otherwise a server whose list and files disagree would
    // have the updater download and restart forever.
    if (result != 0 || rt::ToText(FileChecksumOfFile(local_path)) != entry.checksum) {
      FailRun(flow);
      return;
    }
  }

  window.SetTimerInterval(ui::kProgressTimer, 0);
  window.SetCaption(ui::kCurrentTaskLabel, kTextUpdateDone);
  window.SetCaption(ui::kPatchSizeLabel, kTextNotAvailable);
  window.SetCaption(ui::kSpeedLabel, kTextNotAvailable);
  window.SetWidth(ui::kProgressFill, 0);
  window.SetDisabled(ui::kEnterGameButton, false);
  // Quoted, so a folder or launcher name with blanks starts the right file.
  flow.services.run_program("\"" + rt::RunDirectory() + "\\" + g.RestartProgramName + "\"");
  flow.services.end_program(0);
}

}  // namespace app

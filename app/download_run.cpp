// The download run, on the worker thread: every patch entry in turn into the
// client folder, then restart the launcher and end.
#include "app/flow.h"
#include "app/retry.h"
#include "app/update_log.h"
#include "app/write_check.h"
#include "checksum/file_checksum.h"
#include "list/layout.h"
#include "net/download_report.h"
#include "net/download_result.h"
#include "net/download_target.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/text.h"

namespace app {
namespace {

constexpr int32_t kTimerIntervalMs = 100;
constexpr int32_t kWaitBeforeFileMs = 100;
constexpr const char* kPartialSuffix = list::kPartialSuffix;
// The engine writes its partial file under its own spelling of the suffix;
// the run looks for it under the list's.
static_assert(list::SameName(net::kPartialSuffix, list::kPartialSuffix), "one partial-file suffix");

// Stops the run with its failure text standing: no restart, so a patch that
// fails every time cannot restart the updater without end.
void FailRun(Flow& flow, const rt::Text& text) {
  ui::WindowPort& window = *flow.window;
  window.SetTimerInterval(ui::kProgressTimer, 0);
  window.SetCaption(ui::kCurrentTaskLabel, text);
  window.SetDisabled(ui::kEnterGameButton, true);
}

rt::Text ResultName(net::DownloadResult result) {
  return rt::ToText(static_cast<int32_t>(result)) + " (" + net::ToString(result) + ")";
}

// One try of one file: the engine call with the progress record made ready
// for it, and its line in the log.
struct Try {
  net::DownloadResult result = net::DownloadResult::Ok;
  bool resumed = false;
  bool checksum_ok = false;
  int32_t checksum = 0;  // of the file in place, when the engine reported it installed
};

Try TryOnce(Flow& flow, const PatchEntry& entry, const rt::Text& local_path, const net::DownloadUrl& url) {
  ui::DownloadJob& job = flow.globals.Job;
  Try t;
  const int64_t kept = rt::FileSize64(local_path + kPartialSuffix);
  t.resumed = kept >= 0;
  job.status = ui::JobStatus::kDownloading;
  job.totalBytes = 0;
  job.doneBytes = 0;
  flow.window->SetWidth(ui::kProgressFill, 0);

  const uint32_t started = flow.services.tick_count();
  const net::DownloadReport report = flow.services.download(url, local_path, job.totalBytes, job.doneBytes);
  t.result = report.result;
  const uint32_t ms = flow.services.tick_count() - started;
  if (report.ok()) t.checksum = checksum::FileChecksumOfFile(local_path);
  t.checksum_ok = report.ok() && rt::ToText(t.checksum) == entry.checksum;

  // What this try brought (a whole answer to a resume starts over at 0).
  int64_t arrived = job.doneBytes.load() - (t.resumed ? kept : 0);
  if (arrived < 0) arrived = job.doneBytes.load();
  rt::Text line = "file " + entry.path + ": result " + ResultName(t.result) + ", " + rt::ToText(arrived) + " bytes" +
                  (t.resumed ? " from offset " + rt::ToText(kept) : rt::Text()) + ", " + Seconds(ms) + ", " +
                  KilobytesPerSecond(arrived, ms);
  if (report.ok()) line += t.checksum_ok ? ", checksum ok" : ", checksum MISMATCH";
  const std::string why = net::Describe(report);
  if (!why.empty()) line += ", " + why;
  if (report.proxy_issue != net::ProxyIssue::kNone) {
    line += std::string(", proxy setting not followed: ") + net::ToString(report.proxy_issue);
  }
  flow.services.log(line);
  return t;
}

// Fetches one patch file, trying again as NextAttempt decides; true when it is
// in place and matches its list checksum. Each round tries the mirrors in
// turn (FileMirrorOrder): a failed try moves on at once and keeps the partial
// file, since every mirror serves the same bytes (the checksum decides) and
// the next one resumes it; a file that arrived but does not match moves on
// too, so one stale cache cannot stop every player. When every mirror has
// failed, the most hopeful of their outcomes decides: wait and start another
// round, fetch again from byte 0, or fail. Bounded: at most kMoreTries more
// rounds and one restart from byte 0.
bool FetchPatchFile(Flow& flow, const PatchEntry& entry, const rt::Text& local_path) {
  ui::WindowPort& window = *flow.window;
  const PatchSite& site = flow.globals.Site;
  const std::vector<rt::Text> mirrors = site.FileMirrorOrder();
  FileTries tries;
  while (true) {
    NextStep step = NextStep::kFail;
    net::DownloadResult last_result = net::DownloadResult::Ok;
    for (size_t m = 0; m < mirrors.size(); ++m) {
      const Try t = TryOnce(flow, entry, local_path, site.FileTarget(mirrors[m], entry.path));
      const NextStep this_step = NextAttempt(t.result, t.checksum_ok, t.resumed, tries);
      if (this_step == NextStep::kDone) {
        // In place and verified: the next start takes it from the cache.
        flow.globals.Checksums.RecordInstalled(entry.path, t.checksum);
        return true;
      }
      last_result = t.result;
      if (this_step == NextStep::kRetry || (this_step == NextStep::kRestartFromZero && step == NextStep::kFail)) {
        step = this_step;
      }
      if (m + 1 < mirrors.size()) flow.services.log("next mirror for " + entry.path + ": " + mirrors[m + 1]);
    }
    switch (step) {
      case NextStep::kDone:
        return true;
      case NextStep::kFail:
        return false;
      case NextStep::kRestartFromZero:
        tries.restarted = true;
        flow.services.log("retry " + entry.path + " from byte 0: the resumed file did not match");
        rt::RemoveFile(local_path + kPartialSuffix);
        rt::RemoveFile(local_path);
        break;
      case NextStep::kRetry: {
        const int32_t wait_ms = kRetryWaitsMs[tries.retries];
        ++tries.retries;
        window.SetCaption(ui::kCurrentTaskLabel, rt::FormatText(kTextRetrying, tries.retries, kMoreTries));
        flow.services.log("retry " + rt::ToText(tries.retries) + "/" + rt::ToText(kMoreTries) + " of " + entry.path +
                          " in " + Seconds(static_cast<uint32_t>(wait_ms)) + " after " + ResultName(last_result));
        flow.services.delay(wait_ms);
        window.SetCaption(ui::kCurrentTaskLabel, entry.path);
        break;
      }
    }
  }
}

// Writes the checksum cache with the files the run installed, before the
// restart and after a failed run, so that the next start reads none of them.
void SaveChecksums(Flow& flow) {
  const CacheSave saved = flow.globals.Checksums.Save();
  if (saved != CacheSave::kOff) flow.services.log(rt::Text("checksum cache ") + ToString(saved));
}

}  // namespace

rt::Text ParentFolderOf(const rt::Text& path) {
  const size_t slash = rt::FindLastChar(path, '\\');
  return slash == rt::Text::npos ? rt::Text() : path.substr(0, slash);
}

void RunPatchDownloads(Flow& flow) {
  Globals& g = flow.globals;
  ui::DownloadJob& job = g.Job;
  ui::WindowPort& window = *flow.window;

  flow.services.log("download run: " + rt::ToText(static_cast<int32_t>(g.PatchList.size())) + " files");
  const rt::Text refused = CheckWriteAccess(flow);
  if (!refused.empty()) {
    FailRun(flow, refused);
    flow.services.log("run failed: nothing was changed");
    return;
  }

  window.SetTimerInterval(ui::kProgressTimer, kTimerIntervalMs);
  job.fileCount = static_cast<int32_t>(g.PatchList.size());
  for (int32_t i = 1; i <= job.fileCount; ++i) {
    const PatchEntry& entry = g.PatchList[static_cast<size_t>(i - 1)];
    window.SetCaption(ui::kCurrentTaskLabel, entry.path);
    const rt::Text local_path = g.Site.LocalPath(entry.path);
    rt::CreateFolderTree(ParentFolderOf(local_path));
    // A read-only target (a client copied from a disc) is replaced like any
    // other; one held open stays, and the engine reports the failed install.
    rt::MakeWritable(local_path);
    rt::RemoveFile(local_path);
    flow.services.delay(kWaitBeforeFileMs);

    job.fileIndex = i;
    // A file that arrived but does not match its list checksum is a failed
    // download too: otherwise a server whose list and files disagree would
    // have the updater download and restart forever.
    if (!FetchPatchFile(flow, entry, local_path)) {
      SaveChecksums(flow);
      FailRun(flow, kTextDownloadFailed);
      flow.services.log("run failed at " + entry.path + " (" + rt::ToText(i) + "/" + rt::ToText(job.fileCount.load()) +
                        ")");
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
  const rt::Text command_line = "\"" + rt::RunDirectory() + "\\" + g.RestartProgramName + "\"";
  SaveChecksums(flow);
  flow.services.log("download run done; restart " + g.RestartProgramName);
  flow.services.run_program(command_line);
  flow.services.end_program(0);
}

}  // namespace app

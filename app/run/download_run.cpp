// The download run, on the worker thread: the checks before the first
// download, then the transfers (each on a thread of its own, taking the
// files in list order) while this thread shows their progress; when every
// file is in, restart the launcher and end. A failed run stops every
// transfer and keeps its failure text on the window. Either way the
// checksum cache is written once the transfers have ended, with the files
// installed (the state's services record each one), so that the next start
// reads none of them.
#include <memory>
#include <optional>
#include <vector>

#include "app/disk_full.h"
#include "app/flow.h"
#include "app/run/file_chain.h"
#include "app/run/free_space.h"
#include "app/run/link_control.h"
#include "app/run/run_context.h"
#include "app/run/run_display.h"
#include "app/run/run_log.h"
#include "app/run/transfer_slot.h"
#include "app/start/write_check.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/text.h"

namespace app {
namespace {

constexpr int32_t kTimerIntervalMs = 100;

// Stops the run with its failure text standing: no restart, so a patch that
// fails every time cannot restart the updater without end.
void FailRun(Flow& flow, const rt::Text& text) {
  ui::WindowPort& window = *flow.window;
  window.SetTimerInterval(ui::kProgressTimer, 0);
  window.SetCaption(ui::kCurrentTaskLabel, text);
  window.SetDisabled(ui::kEnterGameButton, true);
}

// The transfers, each on its own thread; when none can be started, one
// works on this thread.
std::vector<std::unique_ptr<TransferSlot>> StartTransfers(RunContext& run, int32_t wanted) {
  std::vector<std::unique_ptr<TransferSlot>> slots;
  for (int32_t n = 0; n < wanted; ++n) {
    auto slot = std::make_unique<TransferSlot>(run, n);
    if (!slot->Start()) break;
    slots.push_back(std::move(slot));
  }
  if (slots.empty()) {
    run.log.Line("no transfer thread could be started: one file at a time on the run's thread");
    slots.push_back(std::make_unique<TransferSlot>(run, 0));
    slots.back()->RunHere();
  }
  return slots;
}

// Room on the disk, when the list gives every file's size: a run that
// clearly cannot fit (LeastRoomNeeded: never more than a run that fits
// needs) is refused before anything is fetched, naming the room still
// needed; on a tight disk the files come one at a time. Files written
// through a link (`behind_link`) may go to another disk and are left out.
// Empty text: go on, with `transfers` fetched at once. `partial_absent`
// says which files have no partial file (the room check's look-ups, made
// here for the files it leaves out), so that their first tries need none.
rt::Text CheckRoom(Flow& flow, const std::vector<bool>& behind_link, int32_t* transfers,
                   std::vector<bool>* partial_absent) {
  const SharedState& g = flow.state;
  const auto in_room = [&behind_link](size_t i) { return i >= behind_link.size() || !behind_link[i]; };
  const std::optional<std::vector<FileRoom>> rooms = RoomOfEntries(g.PatchList, g.Client, in_room);
  partial_absent->assign(g.PatchList.size(), false);
  if (rooms) {
    for (const FileRoom& room : *rooms) (*partial_absent)[room.entry] = room.partial_absent;
  }
  for (size_t i = 0; i < g.PatchList.size(); ++i) {
    if (!rooms || !in_room(i)) {
      (*partial_absent)[i] = rt::FileSize64(PartialPathOf(g.Client.Path(g.PatchList[i].entry.path))) < 0;
    }
  }
  if (!rooms || !flow.services.free_disk_space) return rt::Text();
  const int64_t free = flow.services.free_disk_space(g.Client.Folder());
  if (free < 0) return rt::Text();
  const int64_t needed = LeastRoomNeeded(*rooms);
  if (needed > free) {
    flow.services.log("room check: at least " + rt::ToText(needed) + " bytes needed, " + rt::ToText(free) +
                      " free");
    return DiskFullText(needed - free);
  }
  const int32_t fitting = TransfersForRoom(*rooms, free, *transfers);
  if (fitting < *transfers) {
    flow.services.log("room check: " + rt::ToText(free) + " bytes free, one file at a time");
    *transfers = fitting;
  }
  return rt::Text();
}

// Writes the checksum cache with the records of the files the run installed.
void SaveChecksums(Flow& flow) {
  const sums::CacheSave saved = flow.state.Checksums.Save();
  if (saved != sums::CacheSave::kOff) flow.services.log(rt::Text("checksum cache ") + sums::ToString(saved));
}

// The checksum cache's records of the files to install, allocated here: made
// by the transfers' threads, they would sit among those threads' transient
// buffers and keep that memory from being reused.
void ReserveChecksumRecords(SharedState& g) {
  size_t path_bytes = 0;
  for (const OutdatedFile& file : g.PatchList) path_bytes += file.entry.path.size();
  g.Checksums.ReserveInstalled(g.PatchList.size(), path_bytes);
}

// While paused the bar stands (the progress timer stops) and the speed label
// says so; once resumed the timer goes on.
void ShowPaused(ui::WindowPort& window, bool paused) {
  window.SetTimerInterval(ui::kProgressTimer, paused ? 0 : kTimerIntervalMs);
  if (paused) window.SetCaption(ui::kSpeedLabel, kTextPaused);
}

// The player's controls reach the run while it lives.
class LinkAttached {
 public:
  LinkAttached(LinkControl* link, RunContext& run) : link_(link) {
    if (link_ == nullptr) return;
    link_->LoadCap();
    link_->Attach(&run);
    const int64_t cap = link_->Cap();
    if (cap > 0) run.log.Line("speed cap: " + CapText(cap));
  }
  ~LinkAttached() {
    if (link_ != nullptr) link_->Detach();
  }
  LinkAttached(const LinkAttached&) = delete;
  LinkAttached& operator=(const LinkAttached&) = delete;

 private:
  LinkControl* link_;
};

bool AllEnded(const std::vector<std::unique_ptr<TransferSlot>>& slots) {
  for (const auto& slot : slots) {
    if (!slot->Ended()) return false;
  }
  return true;
}

}  // namespace

void RunPatchDownloads(Flow& flow) {
  SharedState& g = flow.state;
  ui::DownloadJob& job = g.Job;
  ui::WindowPort& window = *flow.window;
  const int32_t files = static_cast<int32_t>(g.PatchList.size());
  int32_t transfers = flow.run.transfers < 1 ? 1 : flow.run.transfers;
  if (transfers > files) transfers = files < 1 ? 1 : files;

  flow.services.log(FormatRunStartLine(files, transfers));
  const uint32_t started = flow.services.tick_count();
  std::vector<bool> behind_link;
  std::vector<bool> partial_absent;
  rt::Text refused = CheckWriteAccess(flow, &behind_link);
  if (refused.empty()) refused = CheckRoom(flow, behind_link, &transfers, &partial_absent);
  if (!refused.empty()) {
    FailRun(flow, refused);
    flow.services.log("run failed: nothing was changed");
    return;
  }

  window.SetTimerInterval(ui::kProgressTimer, kTimerIntervalMs);
  job.fileCount = files;
  RunContext run(flow, g.PatchList);
  for (size_t i = 0; i < partial_absent.size(); ++i) run.plan.File(i).partial_absent.store(partial_absent[i]);
  ReserveChecksumRecords(g);
  const LinkAttached link(flow.link, run);
  RunDisplay display(window, job, run.plan, g.PatchList, run.received, run.made);
  bool failure_shown = false;
  bool paused_shown = false;
  if (files > 0) {
    std::vector<std::unique_ptr<TransferSlot>> slots = StartTransfers(run, transfers);
    // Bounded: every transfer ends once its files are in or have failed,
    // and each file's tries are bounded (MirrorTries). A paused run waits
    // until it is resumed (its transfers start again on the files that
    // wait) or fails.
    while (true) {
      const bool ended = AllEnded(slots);
      if (run.Failed()) {
        // Shown at once; the other transfers stop within a receive piece.
        if (!failure_shown) FailRun(flow, run.FailureText());
        failure_shown = true;
      } else {
        display.Publish();
        const bool paused = run.State() == RunState::kPaused;
        if (paused != paused_shown) ShowPaused(window, paused);
        paused_shown = paused;
        // A file installed meanwhile has the timer tick once: the label
        // says paused again.
        if (paused && window.Caption(ui::kSpeedLabel) != kTextPaused) window.SetCaption(ui::kSpeedLabel, kTextPaused);
      }
      if (ended && run.Running() && run.plan.AnyWaiting()) {
        slots = StartTransfers(run, transfers);
        continue;
      }
      // A paused run whose files are all in (or failed) ends as well.
      if (ended && (run.State() != RunState::kPaused || !run.plan.AnyWaiting())) break;
      rt::DelayWithEvents(flow.run.publish_ms);
    }
  }
  // Before the restart, and after a failed run too: every transfer has
  // ended, so no record comes after this.
  SaveChecksums(flow);
  if (run.Failed() || !run.plan.AllInstalled()) {
    if (!failure_shown) FailRun(flow, run.Failed() ? run.FailureText() : rt::Text(kTextDownloadFailed));
    flow.services.log("run failed: " + rt::ToText(run.plan.InstalledCount()) + " of " + rt::ToText(files) +
                      " files in; the others keep their old files");
    return;
  }

  const uint32_t ms = flow.services.tick_count() - started;
  window.SetTimerInterval(ui::kProgressTimer, 0);
  window.SetCaption(ui::kCurrentTaskLabel, kTextUpdateDone);
  window.SetCaption(ui::kPatchSizeLabel, kTextNotAvailable);
  window.SetCaption(ui::kSpeedLabel, kTextNotAvailable);
  window.SetWidth(ui::kProgressFill, 0);
  window.SetDisabled(ui::kEnterGameButton, false);
  // Quoted, so a folder or launcher name with blanks starts the right file.
  const rt::Text command_line = "\"" + g.Client.Path(g.RestartProgramName) + "\"";
  flow.services.log(FormatRunDoneLine(files, ms, g.RestartProgramName));
  flow.services.run_program(command_line);
  flow.services.end_program(0);
}

}  // namespace app

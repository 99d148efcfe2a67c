#pragma once
// What the window shows of a download run with several transfers: one file,
// the first in list order that is not in place yet, with its own bytes, and
// "[n/m]" counting the files in place (ShownNumber). Publish copies the
// shown file's counters into the progress record, which the window's timer
// turns into the counts label and the bar every 100 ms (and at once when the
// shown file changes: the timer's handler is their one writer); the speed comes from the record's
// runBytes, copied from the run's own byte counter (every try adds to that
// one). Runs on the run's own thread only: the one writer of the record's
// counts.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/check/outdated_file.h"
#include "app/run/run_plan.h"
#include "list/file_list.h"
#include "ui/download_job.h"
#include "ui/window_port.h"

namespace app {

class RunDisplay {
 public:
  RunDisplay(ui::WindowPort& window, ui::DownloadJob& job, RunPlan& plan, const std::vector<OutdatedFile>& files,
             const std::atomic<int64_t>& received, const std::atomic<int64_t>& made);

  // One publication: the counts, the shown file's counters, and the
  // current-task label (the shown file's entry, or the retry text while it
  // waits before another try) when it changes.
  void Publish();

 private:
  ui::WindowPort& window_;
  ui::DownloadJob& job_;
  RunPlan& plan_;
  const std::vector<OutdatedFile>& files_;
  const std::atomic<int64_t>& received_;
  const std::atomic<int64_t>& made_;
  size_t shown_ = RunPlan::kNone;
  int32_t shown_try_ = -1;
  rt::Text task_;
};

}  // namespace app

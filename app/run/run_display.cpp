#include "app/run/run_display.h"

#include "app/flow.h"
#include "app/retry.h"
#include "runtime/text.h"

namespace app {

RunDisplay::RunDisplay(ui::WindowPort& window, ui::DownloadJob& job, RunPlan& plan,
                       const std::vector<OutdatedFile>& files, const std::atomic<int64_t>& received, const std::atomic<int64_t>& made)
    : window_(window), job_(job), plan_(plan), files_(files), received_(received), made_(made) {}

void RunDisplay::Publish() {
  const int32_t count = static_cast<int32_t>(plan_.Files());
  // The speed: bytes received, and bytes a form was turned into while one is
  // applied, so that the label moves whichever runs.
  job_.runBytes.store(received_.load() + made_.load());
  job_.fileCount.store(count);
  job_.fileIndex.store(ShownNumber(plan_.InstalledCount(), count));
  const size_t shown = plan_.Shown();
  if (shown == RunPlan::kNone) return;
  const FileRecord& record = plan_.File(shown);
  const int32_t try_number = record.try_number.load();
  job_.totalBytes.store(record.total.load());
  job_.doneBytes.store(record.done.load());
  if (shown != shown_ || try_number != shown_try_) {
    // Another file, or the same one from the start again: its counts are in
    // the record before the status says so, so the timer never shows the new
    // file with the old one's counts. The timer's handler, the one writer of
    // the counts label and the bar, shows them now rather than at its next
    // tick, before the new name goes up below.
    job_.status.store(ui::JobStatus::kDownloading);
    window_.TickNow(ui::kProgressTimer);
    shown_ = shown;
    shown_try_ = try_number;
  }
  const int32_t retry = record.retry_wait.load();
  const rt::Text task = retry > 0 ? rt::FormatText(kTextRetrying, retry, kMoreTries) : files_[shown].entry.path;
  if (task != task_) {
    window_.SetCaption(ui::kCurrentTaskLabel, task);
    task_ = task;
  }
}

}  // namespace app

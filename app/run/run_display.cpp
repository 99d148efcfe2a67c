#include "app/run/run_display.h"

#include "app/flow.h"
#include "app/retry.h"
#include "runtime/text.h"
#include "ui/progress_display.h"

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
  if (shown != shown_ || try_number != shown_try_) {
    // Another file, or the same one from the start again: its bar starts
    // over. The status goes last, so the timer never shows the new file
    // with the old one's counts.
    job_.totalBytes.store(0);
    job_.doneBytes.store(0);
    window_.SetWidth(ui::kProgressFill, 0);
    // The new file's counts at once, as its name goes up below: until the
    // timer's next tick the label would show the old file's counts under it.
    window_.SetCaption(ui::kPatchSizeLabel, ui::PatchSizeCaption(job_.fileIndex.load(), count, record.done.load(),
                                                                 record.total.load()));
    job_.status.store(ui::JobStatus::kDownloading);
    shown_ = shown;
    shown_try_ = try_number;
  }
  job_.totalBytes.store(record.total.load());
  job_.doneBytes.store(record.done.load());
  const int32_t retry = record.retry_wait.load();
  const rt::Text task = retry > 0 ? rt::FormatText(kTextRetrying, retry, kMoreTries) : files_[shown].entry.path;
  if (task != task_) {
    window_.SetCaption(ui::kCurrentTaskLabel, task);
    task_ = task;
  }
}

}  // namespace app

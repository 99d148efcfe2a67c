// The progress timer tick (declared in window_events.h).
#include <cmath>
#include <cstdint>
#include <limits>

#include "runtime/convert.h"
#include "runtime/text.h"
#include "ui/window_events.h"
#include "ui/window_template.h"

namespace ui {
namespace {

// Speeds at or below this are not shown: the first tick of a file (the tag
// still holds the previous file's count) and ticks without progress.
constexpr double kMinShownSpeed = 0.0000001;
constexpr int kTicksPerSecond = 10;

// done / total of the bar, truncated toward zero. Not clamped to the bar;
// only kept inside int32 so that a bogus count cannot overflow the cast.
int32_t FillWidth(int32_t done, int32_t total) {
  if (total == 0) return 0;
  const double width = std::trunc(static_cast<double>(done) / total * kBarWidth);
  if (width >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (width <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(width);
}

}  // namespace

void DownloadProgressTimer(WindowPort& port, DownloadJob& job) {
  if (job.status.load() != JobStatus::kDownloading) return;
  // One snapshot per tick: the worker keeps counting meanwhile.
  const int32_t done = job.doneBytes.load();
  const int32_t total = job.totalBytes.load();
  port.SetCaption(kPatchSizeLabel,
                  rt::FormatText("[%d/%d]:%d/%d", job.fileIndex.load(), job.fileCount.load(), done, total));

  const double previous = rt::ToDouble(port.Tag(kSpeedLabel));
  const float speed = static_cast<float>((done - previous) * kTicksPerSecond / 1024);
  if (static_cast<double>(speed) > kMinShownSpeed) {
    port.SetCaption(kSpeedLabel, rt::FormatText("%.2f KB/S", static_cast<double>(speed)));
  }
  port.SetTag(kSpeedLabel, rt::ToText(done));
  port.SetWidth(kProgressFill, FillWidth(done, total));

  if (done == total && total != 0) {
    port.SetCaption(kPatchSizeLabel, "N/A");
    port.SetCaption(kSpeedLabel, "N/A");
    job.status.store(JobStatus::kComplete);
    job.totalBytes.store(0);
    port.SetWidth(kProgressFill, kBarWidth);
  }
}

}  // namespace ui

#include "ui/progress_display.h"

#include <limits>

#include "runtime/convert.h"
#include "runtime/text.h"
#include "ui/window_template.h"

namespace ui {
namespace {

// Speeds at or below this are not shown (the caption keeps its text).
constexpr double kMinShownSpeed = 0.0000001;
constexpr double kBytesPerKilobyte = 1024;

// floor(part * factor / whole) for 0 <= part < whole, in 64-bit unsigned
// arithmetic without overflow: long multiplication by the factor's bits, the
// remainder kept below whole (so below 2^63 doubled stays below 2^64).
uint64_t ScaledFraction(uint64_t part, uint64_t factor, uint64_t whole) {
  uint64_t quotient = 0, remainder = 0;
  for (int bit = 63; bit >= 0; --bit) {
    quotient <<= 1;
    remainder <<= 1;
    if (remainder >= whole) {
      remainder -= whole;
      ++quotient;
    }
    if ((factor >> bit) & 1) {
      remainder += part;
      if (remainder >= whole) {
        remainder -= whole;
        ++quotient;
      }
    }
  }
  return quotient;
}

}  // namespace

int32_t FillWidth(int64_t done, int64_t total) {
  if (total <= 0 || done <= 0) return 0;
  constexpr int64_t kMaxWidth = std::numeric_limits<int32_t>::max();
  const int64_t whole_bars = done / total;
  if (whole_bars >= kMaxWidth / kBarWidth) return static_cast<int32_t>(kMaxWidth);
  const uint64_t part = ScaledFraction(static_cast<uint64_t>(done % total), kBarWidth, static_cast<uint64_t>(total));
  const int64_t width = whole_bars * kBarWidth + static_cast<int64_t>(part);
  return static_cast<int32_t>(width < kMaxWidth ? width : kMaxWidth);
}

rt::Text PatchSizeCaption(int32_t index, int32_t count, int64_t done, int64_t total) {
  return "[" + rt::ToText(index) + "/" + rt::ToText(count) + "]:" + rt::ToText(done) + "/" + rt::ToText(total);
}

int64_t ProgressDisplay::ReceivedBytes(const DownloadJob& job, int64_t done) {
  // A new file starts its count again: only growth counts.
  if (done > last_done_) grown_ += done - last_done_;
  last_done_ = done;
  const int64_t run = job.runBytes.load();
  return run > 0 ? run : grown_;
}

void ProgressDisplay::Tick(WindowPort& port, DownloadJob& job, uint32_t now_ms) {
  if (job.status.load() != JobStatus::kDownloading) return;
  // One snapshot per tick: the worker keeps counting meanwhile.
  const int64_t done = job.doneBytes.load();
  const int64_t total = job.totalBytes.load();
  port.SetCaption(kPatchSizeLabel, PatchSizeCaption(job.fileIndex.load(), job.fileCount.load(), done, total));

  // The average over the last seconds of every transfer's bytes; stored as
  // a float before it is shown, as the caption always was.
  const SpeedMeter::Reading reading = speed_.Add(ReceivedBytes(job, done), now_ms);
  if (reading.known) {
    const float speed = static_cast<float>(reading.bytes_per_second / kBytesPerKilobyte);
    if (static_cast<double>(speed) > kMinShownSpeed || reading.bytes_per_second == 0) {
      port.SetCaption(kSpeedLabel, rt::FormatText("%.2f KB/S", static_cast<double>(speed)));
    }
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

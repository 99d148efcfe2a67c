#pragma once
// The progress timer's handler: turns the download record into the
// patch-size caption "[n/m]:done/total", the speed caption "%.2f KB/S" and the
// fill width, and marks a finished file complete. It owns the speed meter,
// the only state kept between ticks besides the speed label's tag.
#include <cstdint>

#include "ui/download_job.h"
#include "ui/speed_meter.h"
#include "ui/window_port.h"

namespace ui {

// The fill's width for done of total bytes: done / total of the bar,
// truncated toward zero, exact for any 64-bit counts. 0 while total is not
// positive or done is negative; more than the bar when done passes total
// (not clamped to the bar), at most INT32_MAX.
[[nodiscard]] int32_t FillWidth(int64_t done, int64_t total);

// "[index/count]:done/total" in decimal, 64-bit byte counts.
[[nodiscard]] rt::Text PatchSizeCaption(int32_t index, int32_t count, int64_t done, int64_t total);

class ProgressDisplay {
 public:
  // One tick at `now_ms` (a wrapping tick count). Nothing happens unless the
  // status is "正在下载".
  void Tick(WindowPort& port, DownloadJob& job, uint32_t now_ms);

 private:
  // The run's received bytes: runBytes, or, while no transfer counts it
  // (a run of one transfer at a time), the growth of doneBytes the ticks saw.
  int64_t ReceivedBytes(const DownloadJob& job, int64_t done);

  SpeedMeter speed_;
  int64_t last_done_ = 0;
  int64_t grown_ = 0;
};

}  // namespace ui

#pragma once
// The progress record of the download run: written by the run's own thread,
// which copies the counts of the file shown and the run's byte total into it,
// and read every 100 ms by the progress timer on the window thread, which
// also writes `status` and `totalBytes` when the file shown is complete.
// Every field the two threads share is atomic, so no reader sees a torn or
// released value. Byte counts are 64-bit: files past 4 GiB are common.
#include <atomic>
#include <cstdint>

namespace ui {

enum class JobStatus : int32_t {
  kNone = 0,         // empty status: nothing to show
  kDownloading = 1,  // "正在下载"
  kComplete = 2,     // "下载完成"
};

// The text the progress display shows for a status: "正在下载", "下载完成",
// or empty for none.
const char* JobStatusText(JobStatus status);

struct DownloadJob {
  std::atomic<JobStatus> status{JobStatus::kNone};
  // The file shown: its whole size and the bytes of it present so far.
  std::atomic<int64_t> totalBytes{0};
  std::atomic<int64_t> doneBytes{0};
  std::atomic<int32_t> fileCount{0};
  std::atomic<int32_t> fileIndex{0};
  // Every body byte any transfer of the run received (a resumed part is not
  // counted), as the run last copied its own counter. The speed label is
  // computed from it, so it is the sum of all transfers.
  std::atomic<int64_t> runBytes{0};
};

}  // namespace ui

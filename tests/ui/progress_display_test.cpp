// The progress timer tick: captions, speed, fill width and the completion of
// a file, driven through a recording port.
#include <gtest/gtest.h>

#include "tests/ui/recording_port.h"
#include "ui/window_events.h"

namespace ui {
namespace {

using testing::RecordingPort;

struct TickCase {
  const char* what;
  JobStatus status;
  int32_t index, count, done, total;
  const char* tag_before;    // bytes seen at the previous tick
  const char* speed_before;  // speed caption before the tick
  // Expected after the tick:
  const char* patch_caption;
  const char* speed_caption;
  const char* tag_after;
  int32_t width;
  JobStatus status_after;
  int32_t total_after;
};

const TickCase kTicks[] = {
    // Nothing to show: the labels and the record stay as they are.
    {"no status", JobStatus::kNone, 1, 2, 100, 200, "50", "N/A", "N/A", "N/A", "50", 14, JobStatus::kNone, 200},
    {"file already complete", JobStatus::kComplete, 2, 2, 0, 0, "4000", "N/A", "N/A", "N/A", "4000", 14,
     JobStatus::kComplete, 0},
    // Headers not read yet: numbers with zero bytes, speed kept, empty bar.
    {"headers pending", JobStatus::kDownloading, 1, 3, 0, 0, "", "N/A", "[1/3]:0/0", "N/A", "0", 0,
     JobStatus::kDownloading, 0},
    {"1536 bytes in one tick", JobStatus::kDownloading, 1, 2, 2536, 10000, "1000", "N/A", "[1/2]:2536/10000",
     "15.00 KB/S", "2536", 79, JobStatus::kDownloading, 10000},
    {"quarter of the file", JobStatus::kDownloading, 2, 5, 1000, 4000, "", "N/A", "[2/5]:1000/4000", "9.77 KB/S",
     "1000", 78, JobStatus::kDownloading, 4000},
    {"one byte still shows", JobStatus::kDownloading, 1, 1, 1, 4000, "0", "N/A", "[1/1]:1/4000", "0.01 KB/S", "1",
     0, JobStatus::kDownloading, 4000},
    // First tick of the next file: the tag holds the last file's count.
    {"negative speed keeps caption", JobStatus::kDownloading, 2, 2, 0, 500, "4000", "N/A", "[2/2]:0/500", "N/A", "0",
     0, JobStatus::kDownloading, 500},
    {"stalled keeps caption", JobStatus::kDownloading, 1, 2, 2000, 4000, "2000", "1.00 KB/S", "[1/2]:2000/4000",
     "1.00 KB/S", "2000", 156, JobStatus::kDownloading, 4000},
    // A resumed file jumps to the partial size at once: one large speed.
    {"resume jump", JobStatus::kDownloading, 1, 1, 1048576, 2097152, "0", "N/A", "[1/1]:1048576/2097152",
     "10240.00 KB/S", "1048576", 156, JobStatus::kDownloading, 2097152},
    // More bytes than announced: the width is not clamped.
    {"over-long body", JobStatus::kDownloading, 1, 1, 5000, 4000, "4900", "N/A", "[1/1]:5000/4000", "0.98 KB/S",
     "5000", 390, JobStatus::kDownloading, 4000},
    // Completion: numbers shown, then N/A, a full bar and the record reset.
    {"file complete", JobStatus::kDownloading, 1, 2, 4000, 4000, "3000", "0.98 KB/S", "N/A", "N/A", "4000", 312,
     JobStatus::kComplete, 0},
};

TEST(DownloadProgressTimer, OneTick) {
  for (const TickCase& c : kTicks) {
    SCOPED_TRACE(c.what);
    RecordingPort port;
    port.props[kSpeedLabel].tag = c.tag_before;
    port.props[kSpeedLabel].caption = c.speed_before;
    DownloadJob job;
    job.status = c.status;
    job.fileIndex = c.index;
    job.fileCount = c.count;
    job.doneBytes = c.done;
    job.totalBytes = c.total;

    DownloadProgressTimer(port, job);

    EXPECT_EQ(port.props[kPatchSizeLabel].caption, c.patch_caption);
    EXPECT_EQ(port.props[kSpeedLabel].caption, c.speed_caption);
    EXPECT_EQ(port.props[kSpeedLabel].tag, c.tag_after);
    EXPECT_EQ(port.props[kProgressFill].width, c.width);
    EXPECT_EQ(job.status.load(), c.status_after);
    EXPECT_EQ(job.totalBytes.load(), c.total_after);
    EXPECT_EQ(job.doneBytes.load(), c.done) << "the tick never writes doneBytes";
    if (c.status != JobStatus::kDownloading) {
      EXPECT_TRUE(port.calls.empty());
    }
  }
}

// Two files as the run drives them: ticks during the first, its completion,
// idle ticks, then the reset for the second file and its first ticks.
TEST(DownloadProgressTimer, TwoFileRun) {
  RecordingPort port;
  DownloadJob job;
  job.fileCount = 2;
  struct Step {
    bool reset_for_file;  // the run starts the next file before this tick
    int32_t index, done, total;
    const char* patch, *speed;
    int32_t width;
  };
  const Step steps[] = {
      {true, 1, 0, 0, "[1/2]:0/0", "N/A", 0},
      {false, 1, 1024, 2048, "[1/2]:1024/2048", "10.00 KB/S", 156},
      {false, 1, 2048, 2048, "N/A", "N/A", 312},
      {false, 1, 2048, 0, "N/A", "N/A", 312},  // complete: ticks change nothing
      {true, 2, 0, 0, "[2/2]:0/0", "N/A", 0},  // tag still 2048: negative speed
      {false, 2, 512, 1024, "[2/2]:512/1024", "5.00 KB/S", 156},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.patch);
    if (s.reset_for_file) {
      job.status = JobStatus::kDownloading;
      job.fileIndex = s.index;
      port.SetWidth(kProgressFill, 0);
    }
    job.doneBytes = s.done;
    if (s.total != 0 || s.reset_for_file) job.totalBytes = s.total;
    DownloadProgressTimer(port, job);
    EXPECT_EQ(port.props[kPatchSizeLabel].caption, s.patch);
    EXPECT_EQ(port.props[kSpeedLabel].caption, s.speed);
    EXPECT_EQ(port.props[kProgressFill].width, s.width);
  }
  EXPECT_EQ(job.status.load(), JobStatus::kDownloading);
}

TEST(JobStatusText, Texts) {
  EXPECT_STREQ(JobStatusText(JobStatus::kNone), "");
  EXPECT_STREQ(JobStatusText(JobStatus::kDownloading), "正在下载");
  EXPECT_STREQ(JobStatusText(JobStatus::kComplete), "下载完成");
}

}  // namespace
}  // namespace ui

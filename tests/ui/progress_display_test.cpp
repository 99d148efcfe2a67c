// The progress timer tick: captions, speed, fill width and the completion of
// a file, driven through a recording port with an injected clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "tests/ui/recording_port.h"
#include "ui/progress_display.h"

namespace ui {
namespace {

using testing::RecordingPort;

constexpr int64_t kNoSample = -1;

struct TickCase {
  const char* what;
  JobStatus status;
  int32_t index, count;
  int64_t done, total;
  int64_t run_before;        // runBytes at a tick 100 ms earlier, or kNoSample
  int64_t run_now;           // runBytes at this tick
  const char* speed_before;  // speed caption before the tick
  // Expected after the tick:
  const char* patch_caption;
  const char* speed_caption;
  const char* tag_after;
  int32_t width;
  JobStatus status_after;
  int64_t total_after;
};

const TickCase kTicks[] = {
    // Nothing to show: the labels and the record stay as they are.
    {"no status", JobStatus::kNone, 1, 2, 100, 200, 0, 50, "N/A", "N/A", "N/A", "", 14, JobStatus::kNone, 200},
    {"file already complete", JobStatus::kComplete, 2, 2, 0, 0, 0, 4000, "N/A", "N/A", "N/A", "", 14,
     JobStatus::kComplete, 0},
    // Headers not read yet: numbers with zero bytes, speed kept, empty bar.
    {"headers pending", JobStatus::kDownloading, 1, 3, 0, 0, 0, 0, "N/A", "[1/3]:0/0", "N/A", "0", 0,
     JobStatus::kDownloading, 0},
    {"1536 bytes in 100 ms", JobStatus::kDownloading, 1, 2, 2536, 10000, 1000, 2536, "N/A", "[1/2]:2536/10000",
     "15.00 KB/S", "2536", 79, JobStatus::kDownloading, 10000},
    {"quarter of the file", JobStatus::kDownloading, 2, 5, 1000, 4000, 0, 1000, "N/A", "[2/5]:1000/4000",
     "9.77 KB/S", "1000", 78, JobStatus::kDownloading, 4000},
    {"one byte still shows", JobStatus::kDownloading, 1, 1, 1, 4000, 0, 1, "N/A", "[1/1]:1/4000", "0.01 KB/S", "1",
     0, JobStatus::kDownloading, 4000},
    // The first tick has nothing to compare with: the caption stays.
    {"first tick keeps caption", JobStatus::kDownloading, 2, 2, 0, 500, kNoSample, 4000, "N/A", "[2/2]:0/500", "N/A",
     "0", 0, JobStatus::kDownloading, 500},
    {"stalled for one tick keeps caption", JobStatus::kDownloading, 1, 2, 2000, 4000, 2000, 2000, "1.00 KB/S",
     "[1/2]:2000/4000", "1.00 KB/S", "2000", 156, JobStatus::kDownloading, 4000},
    // A resumed file jumps to the partial size at once, but the speed counts
    // only bytes received: no bogus burst.
    {"resume jump", JobStatus::kDownloading, 1, 1, 1048576, 2097152, 100, 100, "N/A", "[1/1]:1048576/2097152", "N/A",
     "1048576", 156, JobStatus::kDownloading, 2097152},
    // More bytes than announced: the width is not clamped to the bar.
    {"over-long body", JobStatus::kDownloading, 1, 1, 5000, 4000, 4900, 5000, "N/A", "[1/1]:5000/4000",
     "0.98 KB/S", "5000", 390, JobStatus::kDownloading, 4000},
    // Completion: numbers shown, then N/A, a full bar and the record reset.
    {"file complete", JobStatus::kDownloading, 1, 2, 4000, 4000, 3000, 4000, "0.98 KB/S", "N/A", "N/A", "4000", 312,
     JobStatus::kComplete, 0},
    // 64-bit counts in the caption and the bar.
    {"past 4 GiB", JobStatus::kDownloading, 3, 7, 4294967297, 8589934592, 4294967296, 4294967297, "N/A",
     "[3/7]:4294967297/8589934592", "0.01 KB/S", "4294967297", 156, JobStatus::kDownloading, 8589934592},
    {"complete at 2^32+1", JobStatus::kDownloading, 1, 1, 4294967297, 4294967297, kNoSample, 4294967297, "N/A", "N/A",
     "N/A", "4294967297", 312, JobStatus::kComplete, 0},
};

TEST(ProgressDisplay, OneTick) {
  for (const TickCase& c : kTicks) {
    SCOPED_TRACE(c.what);
    RecordingPort port;
    port.props[kSpeedLabel].caption = c.speed_before;
    DownloadJob job;
    ProgressDisplay display;
    if (c.run_before != kNoSample) {
      // The earlier tick, then the labels as the case has them.
      job.status = JobStatus::kDownloading;
      job.runBytes = c.run_before;
      display.Tick(port, job, 1000);
      port = RecordingPort();
      port.props[kSpeedLabel].caption = c.speed_before;
    }
    job.status = c.status;
    job.fileIndex = c.index;
    job.fileCount = c.count;
    job.doneBytes = c.done;
    job.totalBytes = c.total;
    job.runBytes = c.run_now;

    display.Tick(port, job, 1100);

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

// The bar at every 32/64-bit boundary the counts cross: exact truncation
// (a double would round 2^62-1 of 2^62 up to the full bar), no overflow.
TEST(ProgressDisplay, FillWidthAtBoundaries) {
  constexpr int64_t k31 = int64_t{1} << 31, k32 = int64_t{1} << 32, k62 = int64_t{1} << 62;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  struct Case {
    int64_t done, total;
    int32_t width;
  } const cases[] = {
      // Nothing to draw.
      {100, 0, 0},
      {100, -5, 0},
      {-1, 4000, 0},
      {kMax, std::numeric_limits<int64_t>::min(), 0},
      // Ordinary sizes, as ever.
      {1000, 4000, 78},
      {0, 4000, 0},
      {2048, 2048, 312},
      // One byte short of each boundary is one column short of the bar.
      {k31 - 1, k31, 311},
      {k31, k31 + 1, 311},
      {k32 - 1, k32, 311},
      {k32, k32 + 1, 311},
      {k62 - 1, k62, 311},
      {kMax - 1, kMax, 311},
      // Halves and wholes past each boundary.
      {k31, k32, 156},
      {k32, k32, 312},
      {k32 + 1, k32 + 1, 312},
      {k32, k32 * 2, 156},
      {k62, k62 + k62 / 2, 208},
      {k62, k62, 312},
      {kMax, kMax, 312},
      {1, k62, 0},
      // More than announced: past the bar, at most INT32_MAX.
      {5000, 4000, 390},
      {k32 * 2, k32, 624},
      {kMax, 1, std::numeric_limits<int32_t>::max()},
      {kMax, 6883484, std::numeric_limits<int32_t>::max()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FillWidth(c.done, c.total), c.width) << c.done << "/" << c.total;
  }
}

TEST(ProgressDisplay, PatchSizeCaptionIn64Bits) {
  struct Case {
    int32_t index, count;
    int64_t done, total;
    const char* caption;
  } const cases[] = {
      {1, 2, 0, 0, "[1/2]:0/0"},
      {2, 2, 2147483647, 2147483647, "[2/2]:2147483647/2147483647"},
      {1, 1, 2147483648, 4294967295, "[1/1]:2147483648/4294967295"},
      {1, 1, 4294967296, 4294967297, "[1/1]:4294967296/4294967297"},
      {9, 10, 4611686018427387904, 9223372036854775807, "[9/10]:4611686018427387904/9223372036854775807"},
      {50000, 50000, 53687091200, 53687091200, "[50000/50000]:53687091200/53687091200"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PatchSizeCaption(c.index, c.count, c.done, c.total), c.caption);
  }
}

// Two files as the run drives them: ticks during the first, its completion,
// idle ticks, then the reset for the second file and its first ticks. The
// run-wide counter goes on across files, so the speed does too.
TEST(ProgressDisplay, TwoFileRun) {
  RecordingPort port;
  DownloadJob job;
  ProgressDisplay display;
  job.fileCount = 2;
  struct Step {
    bool reset_for_file;  // the run starts the next file before this tick
    int32_t index;
    int64_t done, total, run;
    const char* patch, *speed;
    int32_t width;
  };
  const Step steps[] = {
      {true, 1, 0, 0, 0, "[1/2]:0/0", "N/A", 0},
      {false, 1, 1024, 2048, 1024, "[1/2]:1024/2048", "10.00 KB/S", 156},
      {false, 1, 2048, 2048, 2048, "N/A", "N/A", 312},
      {false, 1, 2048, 0, 2048, "N/A", "N/A", 312},  // complete: ticks change nothing
      // The average over the window still holds the first file's bytes.
      {true, 2, 0, 0, 2048, "[2/2]:0/0", "5.00 KB/S", 0},
      {false, 2, 512, 1024, 2560, "[2/2]:512/1024", "5.00 KB/S", 156},
  };
  uint32_t now = 5000;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.patch);
    if (s.reset_for_file) {
      job.status = JobStatus::kDownloading;
      job.fileIndex = s.index;
      port.SetWidth(kProgressFill, 0);
    }
    job.doneBytes = s.done;
    job.runBytes = s.run;
    if (s.total != 0 || s.reset_for_file) job.totalBytes = s.total;
    display.Tick(port, job, now);
    now += 100;
    EXPECT_EQ(port.props[kPatchSizeLabel].caption, s.patch);
    EXPECT_EQ(port.props[kSpeedLabel].caption, s.speed);
    EXPECT_EQ(port.props[kProgressFill].width, s.width);
  }
  EXPECT_EQ(job.status.load(), JobStatus::kDownloading);
}

// A trickling server: 600 bytes every 12 s. One tick's difference showed
// "5.86 KB/S" for a real 0.05 KB/s; the average over the last 3 s never
// shows more than 600 bytes in 3 s, and a silent window shows 0.00.
TEST(ProgressDisplay, TrickleShowsItsRate) {
  RecordingPort port;
  DownloadJob job;
  ProgressDisplay display;
  job.status = JobStatus::kDownloading;
  job.fileCount = 1;
  job.fileIndex = 1;
  job.totalBytes = 1 << 20;
  int64_t received = 0;
  double highest = 0;
  int zero_ticks = 0;
  for (uint32_t tick = 0; tick < 600; ++tick) {  // 60 s of 100 ms ticks
    if (tick % 120 == 5) received += 600;
    job.doneBytes = received;
    job.runBytes = received;
    display.Tick(port, job, tick * 100);
    const rt::Text caption = port.props[kSpeedLabel].caption;
    if (tick < 30) continue;  // the first 3 s average over less than the window
    const double shown = std::stod(caption);
    if (shown > highest) highest = shown;
    if (caption == "0.00 KB/S") ++zero_ticks;
  }
  EXPECT_EQ(highest, 0.20) << "600 bytes over 3 s is 0.195 KB/s";
  EXPECT_GT(zero_ticks, 300) << "most ticks of a trickle see nothing arrive in 3 s";
}

// Several transfers add to one run-wide counter: the label shows their sum.
TEST(ProgressDisplay, SpeedIsTheSumOfTransfers) {
  RecordingPort port;
  DownloadJob job;
  ProgressDisplay display;
  job.status = JobStatus::kDownloading;
  job.fileCount = 3;
  job.fileIndex = 1;
  job.totalBytes = 1 << 30;
  for (uint32_t tick = 0; tick <= 40; ++tick) {
    job.doneBytes = int64_t{10240} * tick;    // the file shown: 100 KiB/s
    job.runBytes = int64_t{3 * 10240} * tick;  // three transfers at 100 KiB/s
    display.Tick(port, job, 1000 + tick * 100);
  }
  EXPECT_EQ(port.props[kSpeedLabel].caption, "300.00 KB/S");
}

// A run whose transfers do not count runBytes: the display measures the
// growth of doneBytes (a new file's count starting again is not negative).
TEST(ProgressDisplay, WithoutRunBytesTheFileCountServes) {
  RecordingPort port;
  DownloadJob job;
  ProgressDisplay display;
  job.status = JobStatus::kDownloading;
  job.fileCount = 2;
  job.fileIndex = 1;
  job.totalBytes = 1 << 20;
  uint32_t now = 0;
  for (int64_t done : {0, 1024, 2048}) {
    job.doneBytes = done;
    display.Tick(port, job, now += 100);
  }
  EXPECT_EQ(port.props[kSpeedLabel].caption, "10.00 KB/S");
  job.fileIndex = 2;  // the next file from 0: 2048 + 1024 bytes in 0.4 s
  for (int64_t done : {0, 1024}) {
    job.doneBytes = done;
    display.Tick(port, job, now += 100);
  }
  EXPECT_EQ(port.props[kSpeedLabel].caption, "7.50 KB/S");
}

TEST(JobStatusText, Texts) {
  EXPECT_STREQ(JobStatusText(JobStatus::kNone), "");
  EXPECT_STREQ(JobStatusText(JobStatus::kDownloading), "正在下载");
  EXPECT_STREQ(JobStatusText(JobStatus::kComplete), "下载完成");
}

}  // namespace
}  // namespace ui

// The plan of a run and what the window shows of it: files claimed in list
// order, the first unfinished file shown with its own bytes, "[n/m]"
// counting finished files, the retry text while the shown file waits.
#include <gtest/gtest.h>

#include "app/flow.h"
#include "app/retry.h"
#include "app/run/run_display.h"
#include "app/run/run_plan.h"
#include "runtime/text.h"
#include "tests/ui/recording_port.h"
#include "ui/progress_display.h"

#include <atomic>

using namespace app;

TEST(RunPlan, ShownNumberCountsFinishedFilesAndTheOneShown) {
  struct Case {
    int32_t finished, count, want;
  } const cases[] = {
      {0, 1, 1}, {0, 3, 1}, {1, 3, 2}, {2, 3, 3}, {3, 3, 3}, {0, 0, 0}, {299, 300, 300}, {300, 300, 300},
  };
  for (const Case& c : cases) EXPECT_EQ(ShownNumber(c.finished, c.count), c.want) << c.finished << "/" << c.count;
}

TEST(RunPlan, FilesAreClaimedInListOrderOnceEach) {
  RunPlan plan(3);
  EXPECT_EQ(plan.Shown(), 0u);
  EXPECT_EQ(plan.Claim(), 0u);
  EXPECT_EQ(plan.Claim(), 1u);
  EXPECT_EQ(plan.File(1).state.load(), FileState::kActive);
  EXPECT_EQ(plan.File(2).state.load(), FileState::kWaiting);
  EXPECT_EQ(plan.Claim(), 2u);
  EXPECT_EQ(plan.Claim(), RunPlan::kNone);
  EXPECT_EQ(plan.Claim(), RunPlan::kNone);

  // The shown file is the first not in place: a later file finishing first
  // does not move it.
  plan.Installed(1);
  EXPECT_EQ(plan.Shown(), 0u);
  EXPECT_EQ(plan.InstalledCount(), 1);
  plan.Installed(0);
  EXPECT_EQ(plan.Shown(), 2u);
  plan.Failed(2);
  EXPECT_EQ(plan.Shown(), 2u);
  EXPECT_FALSE(plan.AllInstalled());
  RunPlan empty(0);
  EXPECT_FALSE(empty.AnyWaiting());
  EXPECT_EQ(empty.Claim(), RunPlan::kNone);
  EXPECT_EQ(empty.Shown(), RunPlan::kNone);
  EXPECT_TRUE(empty.AllInstalled());
}

// A try stopped with the run puts its file back: it waits, is claimed again
// first, and never counts as failed.
TEST(RunPlan, AReleasedFileIsClaimedAgainBeforeLaterOnes) {
  RunPlan plan(4);
  for (size_t want : {0u, 1u, 2u}) EXPECT_EQ(plan.Claim(), want);
  plan.Installed(0);
  plan.Release(2);
  plan.Release(1);
  EXPECT_EQ(plan.File(1).state.load(), FileState::kWaiting);
  EXPECT_TRUE(plan.AnyWaiting());
  EXPECT_EQ(plan.Claim(), 1u);
  EXPECT_EQ(plan.Claim(), 2u);
  EXPECT_EQ(plan.Claim(), 3u);
  EXPECT_FALSE(plan.AnyWaiting());
  EXPECT_EQ(plan.Claim(), RunPlan::kNone);
}

class RunDisplayTest : public ::testing::Test {
 protected:
  rt::Text Task() { return port_.props[ui::kCurrentTaskLabel].caption; }
  rt::Text Counts() { return port_.props[ui::kPatchSizeLabel].caption; }
  size_t Calls(const std::string& call) {
    return static_cast<size_t>(std::count(port_.calls.begin(), port_.calls.end(), call));
  }
  size_t Changes(const std::string& change) {
    return static_cast<size_t>(std::count(port_.changes.begin(), port_.changes.end(), change));
  }
  std::vector<app::OutdatedFile> entries_ = {{{"a.pak", "1", {}}}, {{"data\\b.pak", "2", {}}}, {{"c.pak", "3", {}}}};
  RunPlan plan_{3};
  ui::DownloadJob job_;
  ui::testing::RecordingPort port_;
  std::atomic<int64_t> received_{0};
  std::atomic<int64_t> made_{0};
  RunDisplay display_{port_, job_, plan_, entries_, received_, made_};
  // The window's timer, running: what it shows, it shows through its own handler.
  ui::ProgressDisplay progress_;
  void SetUp() override {
    port_.props[ui::kProgressTimer].interval = 100;
    port_.on_tick = [this] { progress_.Tick(port_, job_, 0); };
  }
};

TEST_F(RunDisplayTest, TheFirstUnfinishedFileIsShownWithItsOwnBytes) {
  for (int i = 0; i < 3; ++i) plan_.Claim();
  plan_.File(0).total = 1000;
  plan_.File(0).done = 100;
  plan_.File(1).total = 50;
  plan_.File(1).done = 50;
  plan_.Installed(1);
  display_.Publish();
  EXPECT_EQ(job_.status.load(), ui::JobStatus::kDownloading);
  EXPECT_EQ(job_.totalBytes.load(), 1000);
  EXPECT_EQ(job_.doneBytes.load(), 100);
  EXPECT_EQ(job_.fileIndex.load(), 2);  // one file in: "[2/3]"
  EXPECT_EQ(job_.fileCount.load(), 3);
  EXPECT_EQ(Task(), "a.pak");
  EXPECT_EQ(Counts(), "[2/3]:100/1000");  // beside the name at once, not at the timer's next tick
  EXPECT_EQ(port_.changes.back(), std::string("SetCaption ") + ui::kCurrentTaskLabel + "=a.pak");  // the name last
  received_ = 150;  // the run's counter reaches the record at the next publication only
  EXPECT_EQ(job_.runBytes.load(), 0);

  // The timer marks the shown file complete and clears its total; the run
  // keeps copying, which the timer does not look at any more.
  plan_.File(0).done = 1000;
  display_.Publish();
  EXPECT_EQ(job_.runBytes.load(), 150);
  job_.status = ui::JobStatus::kComplete;
  job_.totalBytes = 0;
  display_.Publish();
  EXPECT_EQ(job_.status.load(), ui::JobStatus::kComplete);

  // It is in: the next unfinished one is shown from a fresh bar.
  plan_.Installed(0);
  plan_.File(2).total = 300;
  plan_.File(2).done = 30;
  display_.Publish();
  EXPECT_EQ(job_.status.load(), ui::JobStatus::kDownloading);
  EXPECT_EQ(job_.doneBytes.load(), 30);
  EXPECT_EQ(job_.totalBytes.load(), 300);
  EXPECT_EQ(job_.fileIndex.load(), 3);
  EXPECT_EQ(Task(), "c.pak");
  EXPECT_EQ(Counts(), "[3/3]:30/300");  // never the old file's counts under the new name
  EXPECT_EQ(port_.props[ui::kProgressFill].width, ui::FillWidth(30, 300));
  // The timer's handler wrote the counts: nothing else did.
  EXPECT_EQ(Calls(std::string("TickNow ") + ui::kProgressTimer), 2u);
  EXPECT_EQ(Calls(std::string("SetCaption ") + ui::kPatchSizeLabel), 2u);

  // All in: the count is m, and nothing else changes.
  plan_.Installed(2);
  display_.Publish();
  EXPECT_EQ(job_.fileIndex.load(), 3);
  EXPECT_EQ(Task(), "c.pak");
}

TEST_F(RunDisplayTest, AnotherTryStartsTheBarOverAndAWaitShowsTheRetryText) {
  plan_.Claim();
  FileRecord& file = plan_.File(0);
  file.try_number = 1;
  file.total = 100;
  file.done = 100;
  display_.Publish();
  job_.status = ui::JobStatus::kComplete;  // the timer saw it complete

  // It did not verify: a wait, then a try from byte 0.
  file.retry_wait = 2;
  display_.Publish();
  EXPECT_EQ(Task(), rt::FormatText(kTextRetrying, 2, kMoreTries));
  file.retry_wait = 0;
  file.try_number = 2;
  file.done = 10;
  display_.Publish();
  EXPECT_EQ(job_.status.load(), ui::JobStatus::kDownloading);
  EXPECT_EQ(job_.doneBytes.load(), 10);
  EXPECT_EQ(Task(), "a.pak");
  // The label is set only when its text changes.
  display_.Publish();
  EXPECT_EQ(Changes(std::string("SetCaption ") + ui::kCurrentTaskLabel + "=a.pak"), 2u);
}

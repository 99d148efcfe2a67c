// The run's state: running, paused, failed; what each change does to the
// stop flag; and a try stopped with the run leaving its file to wait, never
// failed, to be brought in once the run goes on.
#include "app/run/run_context.h"
#include "app/run/transfer_slot.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"

using namespace app;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }

TEST_F(FlowTest, TheRunStateChangesOnlyAlongItsEdges) {
  RunContext run(flow_, state_.PatchList);
  struct Step {
    const char* what;
    std::function<bool()> change;
    bool changed;
    RunState state;
    bool stop;
  } const steps[] = {
      {"pause", [&] { return run.Pause(); }, true, RunState::kPaused, true},
      {"pause again", [&] { return run.Pause(); }, false, RunState::kPaused, true},
      {"resume", [&] { return run.Resume(); }, true, RunState::kRunning, false},
      {"resume again", [&] { return run.Resume(); }, false, RunState::kRunning, false},
      {"pause, then fail", [&] { return run.Pause(); }, true, RunState::kPaused, true},
      {"fail", [&] { run.Fail("first", "line 1"); return true; }, true, RunState::kFailed, true},
      {"fail again", [&] { run.Fail("second", "line 2"); return true; }, true, RunState::kFailed, true},
      {"no resume after a failure", [&] { return run.Resume(); }, false, RunState::kFailed, true},
      {"no pause after a failure", [&] { return run.Pause(); }, false, RunState::kFailed, true},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(step.change(), step.changed) << step.what;
    EXPECT_EQ(run.State(), step.state) << step.what;
    EXPECT_EQ(run.stop.load(), step.stop) << step.what;
  }
  EXPECT_EQ(run.FailureText(), "first");
  EXPECT_EQ(log_, (std::vector<rt::Text>{"line 1", "line 2"}));
}

TEST_F(FlowTest, ATryStoppedWithTheRunLeavesItsFileWaitingWithWhatArrived) {
  state_.PatchList = {{"a.dat", Sum("new a")}, {"b.dat", Sum("new b")}};
  server_["http://127.0.0.1:8088/patch/528/a.dat"] = "new a";
  server_["http://127.0.0.1:8088/patch/528/b.dat"] = "new b";
  Write("a.dat", "old a");
  RunContext run(flow_, state_.PatchList);
  const auto serve = flow_.services.download;
  flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
    // Part of the file, then the run pauses: the engine ends the call.
    WritePart(sink, "new");
    EXPECT_TRUE(run.Pause());
    EXPECT_TRUE(options.cancel != nullptr && options.cancel->load());
    net::DownloadReport report(net::DownloadResult::Interrupted);
    report.reason = net::FailReason::kCancelled;
    return report;
  };
  TransferSlot(run, 0).RunHere();
  EXPECT_EQ(run.State(), RunState::kPaused);
  EXPECT_EQ(run.plan.File(0).state.load(), FileState::kWaiting);
  EXPECT_EQ(run.plan.File(1).state.load(), FileState::kWaiting);  // never claimed: the run stopped first
  EXPECT_EQ(Read("a.dat"), "old a");
  EXPECT_EQ(Read("a.dat.tmp"), "new");
  EXPECT_TRUE(delays_.empty());  // a stopped try is not retried

  // Resumed: both are brought in, the first from where it stopped.
  flow_.services.download = serve;
  ASSERT_TRUE(run.Resume());
  TransferSlot(run, 0).RunHere();
  EXPECT_TRUE(run.plan.AllInstalled());
  EXPECT_EQ(Read("a.dat"), "new a");
  EXPECT_EQ(Read("b.dat"), "new b");
  EXPECT_EQ(run.received.load(), 2 + 5);  // the kept 3 bytes arrived in the stopped try
}

}  // namespace

// The run's state: running, paused, failed; what each change does to the
// stop flag and the rate limit; and a try let go by a pause leaving its file
// to wait on the same transfer, never failed, to go on from where it
// stopped once the run is resumed.
#include "app/run/link_control.h"
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
    bool limit_paused;
  } const steps[] = {
      {"pause", [&] { return run.Pause(); }, true, RunState::kPaused, false, true},
      {"pause again", [&] { return run.Pause(); }, false, RunState::kPaused, false, true},
      {"resume", [&] { return run.Resume(); }, true, RunState::kRunning, false, false},
      {"resume again", [&] { return run.Resume(); }, false, RunState::kRunning, false, false},
      {"pause, then fail", [&] { return run.Pause(); }, true, RunState::kPaused, false, true},
      {"fail: the waiting receives go", [&] { run.Fail("first", "line 1"); return true; }, true, RunState::kFailed,
       true, false},
      {"fail again", [&] { run.Fail("second", "line 2"); return true; }, true, RunState::kFailed, true, false},
      {"no resume after a failure", [&] { return run.Resume(); }, false, RunState::kFailed, true, false},
      {"no pause after a failure", [&] { return run.Pause(); }, false, RunState::kFailed, true, false},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(step.change(), step.changed) << step.what;
    EXPECT_EQ(run.State(), step.state) << step.what;
    EXPECT_EQ(run.stop.load(), step.stop) << step.what;
    EXPECT_EQ(run.rate.Paused(), step.limit_paused) << step.what;
  }
  EXPECT_EQ(run.FailureText(), "first");
  EXPECT_EQ(log_, (std::vector<rt::Text>{"line 1", "line 2"}));
}

TEST_F(FlowTest, APauseHoldsTheTransferAndTheResumeGoesOnFromTheKeptBytes) {
  state_.PatchList = {{"a.dat", Sum("new a")}, {"b.dat", Sum("new b")}};
  server_["http://127.0.0.1:8088/patch/528/a.dat"] = "new a";
  server_["http://127.0.0.1:8088/patch/528/b.dat"] = "new b";
  Write("a.dat", "old a");
  // The player resumes after a few looks at the paused run.
  RunContext* shown = nullptr;
  int32_t waits_while_paused = 0;
  flow_.services.delay = [&](int32_t) {
    if (shown != nullptr && shown->State() == RunState::kPaused && ++waits_while_paused == 5) shown->Resume();
  };
  RunContext run(flow_, state_.PatchList);
  shown = &run;
  std::vector<int64_t> kept_at_call;
  std::vector<bool> paused_at_call;
  const auto serve = flow_.services.download;
  flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
    EXPECT_EQ(options.rate, &run.rate);
    paused_at_call.push_back(run.State() == RunState::kPaused);
    if (kept_at_call.empty()) {
      kept_at_call.push_back(-2);
      // Part of the file, then the player pauses and the engine, held by
      // the blocked limit past its hold, lets the connection go.
      WritePart(sink, "new");
      EXPECT_TRUE(run.Pause());
      EXPECT_FALSE(options.cancel->load());
      net::DownloadReport report(net::DownloadResult::Interrupted);
      report.reason = net::FailReason::kCancelled;
      report.received = 3;
      return report;
    }
    const net::DownloadReport report = serve(options, sink, total, done);
    kept_at_call.push_back(report.resumed ? report.resumed_from : -1);
    return report;
  };
  TransferSlot(run, 0).RunHere();
  EXPECT_EQ(waits_while_paused, 5);
  EXPECT_EQ(run.State(), RunState::kRunning);
  EXPECT_TRUE(run.plan.AllInstalled());
  EXPECT_EQ(Read("a.dat"), "new a");
  EXPECT_EQ(Read("b.dat"), "new b");
  // No call while paused; the same transfer went on with the kept 3 bytes
  // (a range from byte 3), and the pause used no try.
  EXPECT_EQ(paused_at_call, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(kept_at_call, (std::vector<int64_t>{-2, 3, -1}));
  EXPECT_EQ(run.plan.File(0).state.load(), FileState::kInstalled);
  for (const rt::Text& line : log_) EXPECT_EQ(line.find("retry"), rt::Text::npos) << line;
}

// The window's menu commands: what each does to the run, the checked cap,
// and the value kept for the next run; a kept value not offered is none.
TEST_F(FlowTest, TheMenuPausesTheRunAndKeepsTheCap) {
  const rt::Text kept = rt::Text(kUserLinkKey) + "|" + kUserCapName;
  user_values_[kept] = "1000";  // not an offered cap
  RunContext run(flow_, state_.PatchList);
  LinkControl link(flow_.services);
  link.LoadCap();
  struct Step {
    const char* what;
    int32_t command;  // 0: attach the run
    rt::Text first;   // the pause item's text
    int32_t checked;  // the checked cap's place
    RunState state;
    int64_t rate;
  } const steps[] = {
      {"attached, no cap", 0, kTextPause, 0, RunState::kRunning, 0},
      {"1 MB/s", kCommandCapFirst + 3, kTextPause, 3, RunState::kRunning, 1 << 20},
      {"pause", kCommandPause, kTextResume, 3, RunState::kPaused, 1 << 20},
      {"256 KB/s while paused", kCommandCapFirst + 5, kTextResume, 5, RunState::kPaused, 256 << 10},
      {"resume", kCommandPause, kTextPause, 5, RunState::kRunning, 256 << 10},
      {"an unknown id", kCommandCapFirst + kSpeedCapCount, kTextPause, 5, RunState::kRunning, 256 << 10},
  };
  for (const Step& step : steps) {
    step.command == 0 ? link.Attach(&run) : link.Command(step.command);
    const std::vector<ui::MenuItem> items = link.MenuItems();
    int32_t checked = -1;
    for (const ui::MenuItem& item : items) checked = item.checked ? item.id - kCommandCapFirst : checked;
    EXPECT_EQ(items.at(0).text, step.first) << step.what;
    EXPECT_EQ(checked, step.checked) << step.what;
    EXPECT_EQ(run.State(), step.state) << step.what;
    EXPECT_EQ(run.rate.Rate(), step.rate) << step.what;
  }
  EXPECT_EQ(user_values_[kept], "262144");
  LinkControl next_run(flow_.services);
  next_run.LoadCap();
  EXPECT_EQ(next_run.Cap(), 256 << 10);
}

}  // namespace

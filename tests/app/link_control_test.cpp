// The player's controls: the window's menu as the run stands, what each
// command does to the run and its limit, and the cap kept for the next run.
#include "app/run/link_control.h"
#include "app/run/run_context.h"
#include "flow_fixture.h"

using namespace app;

namespace {

constexpr char kKept[] = "Software\\GameClientUpdater\\Link|SpeedCap";

// The menu's first item, and which cap is checked (-1: none).
struct MenuSeen {
  rt::Text first;
  bool first_disabled;
  int32_t checked;
};

MenuSeen Seen(LinkControl& link) {
  const std::vector<ui::MenuItem> items = link.MenuItems();
  MenuSeen seen{items.at(0).text, items.at(0).disabled, -1};
  EXPECT_EQ(items.size(), static_cast<size_t>(2 + kSpeedCapCount));
  EXPECT_EQ(items.at(1).id, 0);  // the separator
  for (size_t i = 2; i < items.size(); ++i) {
    if (items[i].checked) seen.checked = items[i].id - kCommandCapFirst;
  }
  return seen;
}

TEST_F(FlowTest, EachMenuCommandChangesTheRunAndTheKeptCap) {
  RunContext run(flow_, state_.PatchList);
  LinkControl link(flow_.services);
  struct Step {
    const char* what;
    std::function<void()> act;
    MenuSeen menu;
    RunState state;
    int64_t rate;
    rt::Text kept;  // "-": none
    rt::Text logged;  // the log's last line ("-": none yet)
  } const steps[] = {
      {"no run yet: pause greyed, no cap", [] {}, {kTextPause, true, 0}, RunState::kRunning, 0, "-", "-"},
      {"pause without a run does nothing", [&] { link.Command(kCommandPause); }, {kTextPause, true, 0},
       RunState::kRunning, 0, "-", "-"},
      {"1 MB/s before the run: kept", [&] { link.Command(kCommandCapFirst + 3); }, {kTextPause, true, 3},
       RunState::kRunning, 0, "1048576", "speed cap set by the player: 1 MB/s"},
      {"the run attached takes the cap", [&] { link.Attach(&run); }, {kTextPause, false, 3}, RunState::kRunning,
       1048576, "1048576", "speed cap set by the player: 1 MB/s"},
      {"pause", [&] { link.Command(kCommandPause); }, {kTextResume, false, 3}, RunState::kPaused, 1048576,
       "1048576", "paused by the player"},
      {"256 KB/s while paused", [&] { link.Command(kCommandCapFirst + 5); }, {kTextResume, false, 5},
       RunState::kPaused, 262144, "262144", "speed cap set by the player: 256 KB/s"},
      {"resume", [&] { link.Command(kCommandPause); }, {kTextPause, false, 5}, RunState::kRunning, 262144, "262144",
       "resumed by the player"},
      {"no cap", [&] { link.Command(kCommandCapFirst); }, {kTextPause, false, 0}, RunState::kRunning, 0, "0",
       "speed cap set by the player: no cap"},
      {"an unknown id does nothing", [&] { link.Command(kCommandCapFirst + kSpeedCapCount); },
       {kTextPause, false, 0}, RunState::kRunning, 0, "0", "speed cap set by the player: no cap"},
      {"a failed run cannot be paused", [&] { run.Fail("x", "run failed"); }, {kTextPause, true, 0},
       RunState::kFailed, 0, "0", "run failed"},
      {"detached: pause greyed", [&] { link.Detach(); }, {kTextPause, true, 0}, RunState::kFailed, 0, "0",
       "run failed"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    const MenuSeen seen = Seen(link);
    EXPECT_EQ(seen.first, step.menu.first);
    EXPECT_EQ(seen.first_disabled, step.menu.first_disabled);
    EXPECT_EQ(seen.checked, step.menu.checked);
    EXPECT_EQ(run.State(), step.state);
    EXPECT_EQ(run.rate.Rate(), step.rate);
    EXPECT_EQ(user_values_.count(kKept) ? user_values_[kKept] : rt::Text("-"), step.kept);
    EXPECT_EQ(log_.empty() ? rt::Text("-") : log_.back(), step.logged);
  }
}

TEST_F(FlowTest, OnlyAnOfferedCapIsTakenFromWhatWasKept) {
  struct Case {
    const char* kept;  // nullptr: nothing kept
    int64_t cap;
  } const cases[] = {
      {nullptr, 0}, {"2097152", 2097152}, {"524288", 524288}, {"1000", 0}, {"1048576x", 0}, {"", 0}, {"-1", 0},
  };
  for (const Case& c : cases) {
    user_values_.clear();
    if (c.kept != nullptr) user_values_[kKept] = c.kept;
    LinkControl link(flow_.services);
    link.LoadCap();
    EXPECT_EQ(link.Cap(), c.cap) << (c.kept ? c.kept : "none");
  }
}

}  // namespace

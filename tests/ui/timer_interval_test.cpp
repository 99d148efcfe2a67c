// The interval rule of the Timer component.
#include <gtest/gtest.h>

#include "ui/timer_interval.h"

namespace ui {
namespace {

TEST(PlanTimerInterval, Rules) {
  struct Case {
    int32_t current, requested;
    TimerIntervalChange want;
  };
  const Case cases[] = {
      {0, -5, {0, false, false}},      // negative counts as 0: a stopped timer stays so
      {100, -1, {0, true, false}},     // negative stops a running timer
      {100, 100, {100, false, false}}, // the same value changes nothing (no restart)
      {0, 0, {0, false, false}},
      {0, 100, {100, true, true}},     // start
      {100, 250, {250, true, true}},   // new period: restarted
      {100, 0, {0, true, false}},      // stop
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.current << " -> " << c.requested);
    const TimerIntervalChange got = PlanTimerInterval(c.current, c.requested);
    EXPECT_EQ(got.interval, c.want.interval);
    EXPECT_EQ(got.changed, c.want.changed);
    EXPECT_EQ(got.restart, c.want.restart);
  }
}

}  // namespace
}  // namespace ui

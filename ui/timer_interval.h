#pragma once
// What setting a Timer component's interval does, apart from the system
// timer calls, so that the rule is the same code on every system.
#include <cstdint>

namespace ui {

struct TimerIntervalChange {
  int32_t interval;  // the interval to keep (never negative)
  bool changed;      // false: the same value, nothing happens
  bool restart;      // start the system timer again with `interval`
};

// A negative request counts as 0; the current value changes nothing; any
// other value stops a running timer and, above 0, starts it again, so the
// first tick comes one full period after the change.
inline TimerIntervalChange PlanTimerInterval(int32_t current, int32_t requested) {
  const int32_t interval = requested < 0 ? 0 : requested;
  if (interval == current) return {current, false, false};
  return {interval, true, interval > 0};
}

}  // namespace ui

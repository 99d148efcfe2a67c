#pragma once
// Timer: ticks on the window thread every interval milliseconds while the
// interval is above 0, through a system timer of the window (one id each).
#include <cstdint>

#include "ui/win32/component.h"

namespace ui {

class TimerComponent : public Component {
 public:
  TimerComponent(const ComponentRow& row, ComponentHost& host, UINT_PTR timer_id);
  ~TimerComponent() override;

  UINT_PTR timer_id() const { return timer_id_; }
  int32_t interval() const { return interval_; }
  // Negative counts as 0; the same value changes nothing; otherwise the timer
  // restarts, so the first tick comes one full period after the change.
  void SetInterval(int32_t interval_ms);
  // The window is gone: its timers with it.
  void Detach() { running_ = false; }
  bool HitTest(POINT) const override { return false; }

 private:
  UINT_PTR timer_id_;
  int32_t interval_ = 0;
  bool running_ = false;
};

}  // namespace ui

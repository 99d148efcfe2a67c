#include "ui/win32/timer_component.h"

#include "ui/timer_interval.h"

namespace ui {

TimerComponent::TimerComponent(const ComponentRow& row, ComponentHost& host, UINT_PTR timer_id)
    : Component(row, host), timer_id_(timer_id) {
  SetInterval(row.timer_interval_ms);
}

TimerComponent::~TimerComponent() {
  if (running_ && host().Handle()) KillTimer(host().Handle(), timer_id_);
}

void TimerComponent::SetInterval(int32_t interval_ms) {
  const TimerIntervalChange change = PlanTimerInterval(interval_, interval_ms);
  if (!change.changed) return;
  interval_ = change.interval;
  HWND hwnd = host().Handle();
  if (running_ && hwnd) KillTimer(hwnd, timer_id_);
  running_ = false;
  if (change.restart && hwnd) running_ = SetTimer(hwnd, timer_id_, static_cast<UINT>(interval_), nullptr) != 0;
}

}  // namespace ui

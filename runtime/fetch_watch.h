#pragma once
// FetchWatch: the stall rule of the whole-body fetch (see runtime/fetch.h),
// with the clock given by the caller as tick counts that wrap. A server that
// sends a byte every few seconds never lets a single receive wait run out;
// the watch looks at what arrived over a whole window instead, the head's
// window included.
#include <cstdint>

#include "runtime/fetch.h"

namespace rt {

class FetchWatch {
 public:
  // `sent_ms`: when the request went out; the head's window starts.
  FetchWatch(const FetchLimits& limits, uint32_t sent_ms);

  // The head is complete at `now_ms`: the body's first window starts.
  void HeadArrived(uint32_t now_ms);
  // Records `bytes` more of the body at `now_ms`; true when the window that
  // has just run out failed the rule (no head yet, or fewer than the floor's
  // bytes). A window that passed starts the next one.
  [[nodiscard]] bool Stalled(int64_t bytes, uint32_t now_ms);
  // What is left of the current window at `now_ms`, 0 when it has run out:
  // the longest a caller may wait before the rule must be looked at again.
  uint32_t MsLeft(uint32_t now_ms) const;

 private:
  uint32_t window_ms_;
  int64_t min_bytes_;
  uint32_t window_start_;
  int64_t received_ = 0;
  bool head_done_ = false;
};

}  // namespace rt

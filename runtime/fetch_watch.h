#pragma once
// FetchWatch: the time rules of the whole-body fetch (see runtime/fetch.h),
// with the clock given by the caller as tick counts that wrap. A server that
// sends a byte every few seconds never lets a single receive wait run out;
// the watch looks at what arrived over a whole window instead, the head's
// window included, and at the total time against the bytes received.
#include <cstdint>

#include "runtime/fetch.h"

namespace rt {

class FetchWatch {
 public:
  // `sent_ms`: when the request went out; the head's window and the total
  // deadline start.
  FetchWatch(const FetchLimits& limits, uint32_t sent_ms);

  // The head is complete at `now_ms`: the body's first window starts.
  void HeadArrived(uint32_t now_ms);
  // Records `bytes` more of the body at `now_ms`: kStalled when the window
  // that has just run out failed the stall rule (no head yet, or fewer than
  // the floor's bytes), kTooSlow when the total deadline has passed, else
  // kOk. A window that passed starts the next one.
  [[nodiscard]] FetchOutcome Check(int64_t bytes, uint32_t now_ms);
  // What is left at `now_ms` of the current window and the deadline, the
  // lesser, 0 when one has run out: the longest a caller may wait before the
  // rules must be looked at again.
  uint32_t MsLeft(uint32_t now_ms) const;

 private:
  uint32_t DeadlineMs() const;

  uint32_t window_ms_;
  int64_t min_bytes_;
  uint32_t base_deadline_ms_;
  uint32_t ms_per_kib_;
  uint32_t sent_;
  uint32_t window_start_;
  int64_t received_ = 0;  // in the current window
  int64_t total_ = 0;     // of the body in all
  bool head_done_ = false;
};

}  // namespace rt

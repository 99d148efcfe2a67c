#pragma once
// StallWatch: tells a transfer that still moves from one that trickles. A
// server that sends one byte every few seconds never lets a single receive
// wait run out, so the receive time-out alone would let it hold a file for
// ever; the watch measures what arrived over a whole window instead.
#include <cstdint>

namespace net {

// A transfer that receives fewer than kStallMinBytes within kStallWindowMs
// counts as stalled.
constexpr uint32_t kStallWindowMs = 30000;
constexpr int64_t kStallMinBytes = 1024;

class StallWatch {
 public:
  // `now_ms` is a tick count (wrapping milliseconds), taken when the
  // transfer starts.
  explicit StallWatch(uint32_t now_ms) : window_start_(now_ms) {}

  // Records `bytes` more received at `now_ms`; true when the window that has
  // just run out holds fewer than kStallMinBytes. A window that has enough
  // starts the next one.
  bool Stalled(int64_t bytes, uint32_t now_ms) {
    received_ += bytes;
    // Unsigned difference: correct across a wrap of the tick count.
    if (now_ms - window_start_ < kStallWindowMs) return false;
    if (received_ < kStallMinBytes) return true;
    window_start_ = now_ms;
    received_ = 0;
    return false;
  }

 private:
  uint32_t window_start_;
  int64_t received_ = 0;
};

}  // namespace net

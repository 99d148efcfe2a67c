#pragma once
// StallWatch: tells a transfer that still moves from one that trickles. A
// server that sends one byte every few seconds never lets a single receive
// wait run out, so the receive time-out alone would let it hold a file for
// ever; the watch measures what arrived over a whole window instead.
//
// The engine keeps two: the stall rule (at least kStallMinBytes in every
// kStallWindowMs) and the floor rate (an average of kFloorBytesPerSecond over
// every kFloorWindowMs, so first checked once the transfer's first window
// has passed). Windows follow each other: each check that finds enough
// starts the next window at that moment.
#include <cstdint>

namespace net {

// A transfer that receives fewer than kStallMinBytes within kStallWindowMs
// counts as stalled.
constexpr uint32_t kStallWindowMs = 30000;
constexpr int64_t kStallMinBytes = 1024;
// A transfer that averages less than kFloorBytesPerSecond over kFloorWindowMs
// is below the floor rate.
constexpr uint32_t kFloorWindowMs = 60000;
constexpr int64_t kFloorBytesPerSecond = 4096;

class StallWatch {
 public:
  // `now_ms` is a tick count (wrapping milliseconds), taken when the
  // transfer starts; `window_ms` 0 switches the watch off.
  explicit StallWatch(uint32_t now_ms, uint32_t window_ms = kStallWindowMs, int64_t min_bytes = kStallMinBytes)
      : window_start_(now_ms), window_ms_(window_ms), min_bytes_(min_bytes) {}

  // The watch of the floor rate: `bytes_per_second` averaged over `window_ms`.
  static StallWatch Floor(uint32_t now_ms, uint32_t window_ms = kFloorWindowMs,
                          int64_t bytes_per_second = kFloorBytesPerSecond) {
    return StallWatch(now_ms, window_ms, bytes_per_second * static_cast<int64_t>(window_ms) / 1000);
  }

  // Records `bytes` more received at `now_ms`; true when the window that has
  // just run out holds fewer than the minimum. A window that has enough
  // starts the next one.
  bool Stalled(int64_t bytes, uint32_t now_ms) {
    received_ += bytes;
    if (window_ms_ == 0) return false;
    // Unsigned difference: correct across a wrap of the tick count.
    const uint32_t elapsed = now_ms - window_start_;
    if (elapsed < window_ms_) return false;
    if (received_ < min_bytes_) {
      last_bytes_ = received_;
      last_elapsed_ms_ = elapsed;
      return true;
    }
    window_start_ = now_ms;
    received_ = 0;
    return false;
  }

  // What the window that stalled held, and how long it ran (for the log).
  int64_t StalledBytes() const { return last_bytes_; }
  uint32_t StalledMs() const { return last_elapsed_ms_; }

 private:
  uint32_t window_start_;
  uint32_t window_ms_;
  int64_t min_bytes_;
  int64_t received_ = 0;
  int64_t last_bytes_ = 0;
  uint32_t last_elapsed_ms_ = 0;
};

}  // namespace net

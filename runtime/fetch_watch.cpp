#include "runtime/fetch_watch.h"

namespace rt {

FetchWatch::FetchWatch(const FetchLimits& limits, uint32_t sent_ms)
    : window_ms_(limits.stall_window_ms > 0 ? static_cast<uint32_t>(limits.stall_window_ms) : 1u),
      min_bytes_(limits.stall_min_bytes),
      window_start_(sent_ms) {}

void FetchWatch::HeadArrived(uint32_t now_ms) {
  head_done_ = true;
  window_start_ = now_ms;
  received_ = 0;
}

bool FetchWatch::Stalled(int64_t bytes, uint32_t now_ms) {
  received_ += bytes;
  // Unsigned difference: correct across a wrap of the tick count.
  if (now_ms - window_start_ < window_ms_) return false;
  if (!head_done_ || received_ < min_bytes_) return true;
  window_start_ = now_ms;
  received_ = 0;
  return false;
}

uint32_t FetchWatch::MsLeft(uint32_t now_ms) const {
  const uint32_t elapsed = now_ms - window_start_;
  return elapsed >= window_ms_ ? 0 : window_ms_ - elapsed;
}

}  // namespace rt

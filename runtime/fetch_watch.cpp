#include "runtime/fetch_watch.h"

namespace rt {

FetchWatch::FetchWatch(const FetchLimits& limits, uint32_t sent_ms)
    : window_ms_(limits.stall_window_ms > 0 ? static_cast<uint32_t>(limits.stall_window_ms) : 1u),
      min_bytes_(limits.stall_min_bytes),
      base_deadline_ms_(limits.base_deadline_ms > 0 ? static_cast<uint32_t>(limits.base_deadline_ms) : 1u),
      ms_per_kib_(limits.ms_per_kib > 0 ? static_cast<uint32_t>(limits.ms_per_kib) : 0u),
      sent_(sent_ms),
      window_start_(sent_ms) {}

void FetchWatch::HeadArrived(uint32_t now_ms) {
  head_done_ = true;
  window_start_ = now_ms;
  received_ = 0;
}

// The body is capped far below what could carry this past 32 bits (16 MiB
// is 4.2 million ms); saturated all the same.
uint32_t FetchWatch::DeadlineMs() const {
  const uint64_t grown = static_cast<uint64_t>(total_) / 1024 * ms_per_kib_;
  const uint64_t deadline = base_deadline_ms_ + grown;
  return deadline > 0xFFFFFFFEu ? 0xFFFFFFFEu : static_cast<uint32_t>(deadline);
}

FetchOutcome FetchWatch::Check(int64_t bytes, uint32_t now_ms) {
  received_ += bytes;
  total_ += bytes;
  // Unsigned differences: correct across a wrap of the tick count.
  if (now_ms - sent_ >= DeadlineMs()) return FetchOutcome::kTooSlow;
  if (now_ms - window_start_ < window_ms_) return FetchOutcome::kOk;
  if (!head_done_ || received_ < min_bytes_) return FetchOutcome::kStalled;
  window_start_ = now_ms;
  received_ = 0;
  return FetchOutcome::kOk;
}

uint32_t FetchWatch::MsLeft(uint32_t now_ms) const {
  const uint32_t in_window = now_ms - window_start_;
  const uint32_t window_left = in_window >= window_ms_ ? 0 : window_ms_ - in_window;
  const uint32_t elapsed = now_ms - sent_;
  const uint32_t deadline = DeadlineMs();
  const uint32_t deadline_left = elapsed >= deadline ? 0 : deadline - elapsed;
  return window_left < deadline_left ? window_left : deadline_left;
}

}  // namespace rt

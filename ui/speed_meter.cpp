#include "ui/speed_meter.h"

namespace ui {

SpeedMeter::Reading SpeedMeter::Add(int64_t bytes, uint32_t now_ms) {
  if (count_ > 0 && bytes < samples_[(first_ + count_ - 1) % kSpeedSamples].bytes) count_ = 0;
  // Samples older than the window go; unsigned differences stay right
  // across a wrap of the tick count.
  while (count_ > 0 && now_ms - samples_[first_].at_ms > kSpeedWindowMs) {
    first_ = (first_ + 1) % kSpeedSamples;
    --count_;
  }
  if (count_ == kSpeedSamples) {  // ticks faster than 100 ms: a shorter window
    first_ = (first_ + 1) % kSpeedSamples;
    --count_;
  }
  samples_[(first_ + count_) % kSpeedSamples] = Sample{now_ms, bytes};
  ++count_;

  Reading reading;
  const Sample& oldest = samples_[first_];
  const uint32_t span_ms = now_ms - oldest.at_ms;
  if (count_ < 2 || span_ms == 0) return reading;
  const int64_t arrived = bytes - oldest.bytes;
  // Ticks are not exactly 100 ms apart: nine tenths of the window counts as
  // all of it.
  const bool spans_window = static_cast<uint64_t>(span_ms) * 10 >= static_cast<uint64_t>(kSpeedWindowMs) * 9;
  if (arrived <= 0 && !(spans_window && bytes > 0)) return reading;
  reading.known = true;
  reading.bytes_per_second = static_cast<double>(arrived) * 1000.0 / span_ms;
  return reading;
}

}  // namespace ui

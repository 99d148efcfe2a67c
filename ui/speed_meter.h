#pragma once
// SpeedMeter: the receive rate over the last few seconds, from a run-wide byte
// counter sampled at each progress tick. One tick's difference shows a
// trickling server's last burst (600 bytes in one 100 ms tick reads as
// 5.86 KB/s when the server sends 0.05 KB/s); an average over a window of
// ticks shows what actually arrives.
#include <cstddef>
#include <cstdint>

namespace ui {

// The rate is averaged over the samples of the last kSpeedWindowMs: 3 s of
// 100 ms ticks is 31 samples; the ring holds one more.
constexpr uint32_t kSpeedWindowMs = 3000;
constexpr std::size_t kSpeedSamples = 32;

class SpeedMeter {
 public:
  struct Reading {
    bool known = false;            // false: nothing to show yet
    double bytes_per_second = 0;   // when known
  };

  // Records the counter `bytes` at `now_ms` (a wrapping tick count) and
  // returns the average since the oldest sample within the window. Known
  // when some bytes arrived since that sample, or when the samples span the
  // whole window after the counter had moved: a full window without a byte
  // is a rate of 0. A counter that goes back (a new run) starts over.
  Reading Add(int64_t bytes, uint32_t now_ms);

 private:
  struct Sample {
    uint32_t at_ms;
    int64_t bytes;
  };
  Sample samples_[kSpeedSamples] = {};
  std::size_t first_ = 0;  // index of the oldest sample
  std::size_t count_ = 0;
  bool covers_window_ = false;  // a sample has aged out: the samples span the window
};

}  // namespace ui

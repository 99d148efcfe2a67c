// The speed meter's window: what counts, what ages out, wraps and resets.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ui/speed_meter.h"

namespace ui {
namespace {

struct Sample {
  uint32_t at_ms;
  int64_t bytes;
};

struct MeterCase {
  const char* what;
  std::vector<Sample> before;  // fed first, readings ignored
  Sample now;
  bool known;
  double bytes_per_second;
};

const MeterCase kCases[] = {
    {"first sample", {}, {0, 500}, false, 0},
    {"same instant", {{100, 0}}, {100, 500}, false, 0},
    {"no bytes yet, whole window", {{0, 0}, {1500, 0}}, {3000, 0}, false, 0},
    {"nothing new within the window", {{0, 100}}, {1000, 100}, false, 0},
    {"a full window of silence is 0", {{0, 100}, {1500, 100}}, {3000, 100}, true, 0},
    {"nine tenths of the window count as all", {{300, 100}}, {3000, 100}, true, 0},
    {"steady 10 KiB/s", {{0, 0}, {100, 1024}, {200, 2048}}, {300, 3072}, true, 10240},
    {"average, not the last tick", {{0, 0}, {2900, 0}}, {3000, 3000}, true, 1000},
    {"samples past the window age out", {{0, 0}, {1000, 30000}}, {4000, 30000}, true, 0},
    {"a sample exactly at the window's edge stays", {{1000, 0}}, {4000, 3000}, true, 1000},
    // The tick count wraps after 49.7 days.
    {"across the tick count's wrap", {{4294967000u, 0}}, {704, 10000}, true, 10000},
    // A new run resets the record: the counter went back.
    {"counter went back", {{0, 50000}, {100, 60000}}, {200, 100}, false, 0},
};

TEST(SpeedMeter, Readings) {
  for (const MeterCase& c : kCases) {
    SCOPED_TRACE(c.what);
    SpeedMeter meter;
    for (const Sample& s : c.before) (void)meter.Add(s.bytes, s.at_ms);
    const SpeedMeter::Reading r = meter.Add(c.now.bytes, c.now.at_ms);
    EXPECT_EQ(r.known, c.known);
    if (c.known) {
      EXPECT_DOUBLE_EQ(r.bytes_per_second, c.bytes_per_second);
    }
  }
}

// Ticks every 50 ms fill the ring before 3 s: the window shortens to the
// ring's 32 samples, and the rate stays right.
TEST(SpeedMeter, FastTicksKeepTheRate) {
  SpeedMeter meter;
  SpeedMeter::Reading r;
  for (uint32_t i = 0; i < 200; ++i) r = meter.Add(int64_t{512} * i, i * 50);
  ASSERT_TRUE(r.known);
  EXPECT_DOUBLE_EQ(r.bytes_per_second, 10240);
}

// A burst then silence: the burst counts for one window, then the rate is 0.
TEST(SpeedMeter, BurstLeavesTheWindow) {
  SpeedMeter meter;
  (void)meter.Add(0, 0);
  (void)meter.Add(0, 2900);
  SpeedMeter::Reading r = meter.Add(3000, 3000);
  EXPECT_DOUBLE_EQ(r.bytes_per_second, 1000);
  for (uint32_t t = 3100; t <= 6000; t += 100) r = meter.Add(3000, t);
  EXPECT_TRUE(r.known);
  EXPECT_DOUBLE_EQ(r.bytes_per_second, 0);
}

}  // namespace
}  // namespace ui

// The run's token bucket under an injected clock: what it grants, when, and
// that pause lets nothing through and earns nothing.
#include "net/rate_limit.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct Step {
  const char* what;
  uint32_t at_ms;
  int64_t wanted;  // -1 pause, -2 resume
  int64_t granted;
};

TEST(RateLimit, GrantsFollowTheCapAndPause) {
  // 64 KiB/s: the bucket holds 250 ms = 16 KiB. Tick start near the wrap.
  const uint32_t t0 = 0xFFFFFF00u;
  const Step steps[] = {
      {"empty at start", t0, 262144, 0},
      {"100 ms earns 6553", t0 + 100, 262144, 6553},
      {"a read-ahead is cut to the bucket", t0 + 1100, 262144, 16384},
      {"below the minimum grant waits", t0 + 1110, 4096, 0},
      {"minimum reached", t0 + 1130, 4096, 1966},
      {"pause", t0 + 1130, -1, 0},
      {"paused grants nothing", t0 + 5000, 4096, 0},
      {"resume", t0 + 9000, -2, 0},
      {"pause earned nothing", t0 + 9000, 4096, 0},
      {"after resume the clock runs", t0 + 9100, 100000, 6553},
  };
  net::RateLimit limit(t0, 65536);
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    if (s.wanted == -1) {
      limit.Pause(s.at_ms);
    } else if (s.wanted == -2) {
      limit.Resume(s.at_ms);
    } else {
      EXPECT_EQ(limit.Grant(s.wanted, s.at_ms), s.granted);
    }
  }
}

TEST(RateLimit, OverAMinuteTheTotalMatchesTheCap) {
  const int64_t rates[] = {262144, 1048576, 4 * 1048576};
  for (int64_t rate : rates) {
    SCOPED_TRACE(rate);
    net::RateLimit limit(0, rate);
    int64_t total = 0;
    for (uint32_t ms = 0; ms <= 60000; ms += 7) total += limit.Grant(262144, ms);
    EXPECT_LE(total, rate * 60 + rate / 4);
    EXPECT_GE(total, rate * 60 - rate / 20);
  }
}

TEST(RateLimit, NoCapGrantsAllAndRefundIsCapped) {
  net::RateLimit limit(0);
  EXPECT_EQ(limit.Grant(262144, 0), 262144);
  EXPECT_EQ(limit.WaitMs(), 0u);
  limit.SetRate(4096, 0);
  EXPECT_EQ(limit.WaitMs(), 250u);
  limit.Refund(1 << 20);  // cannot exceed the bucket (1024 at 4 KiB/s)
  EXPECT_EQ(limit.Grant(262144, 0), 1024);
}

}  // namespace

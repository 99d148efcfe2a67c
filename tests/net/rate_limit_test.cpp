// The run's token bucket under an injected clock: what it grants, when, and
// that pause lets nothing through and earns nothing.
#include "net/rate_limit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "net/file_download.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "tests/net/sockets.h"
#include "tests/net/temp_folder.h"
#include "tests/servers/scripted_server.h"

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

// One download through a shared limit: a cap bounds the rate, a pause stops the bytes without the stall rule firing, and a pause
// held past kPauseHoldMs lets the connection go with the bytes kept.
TEST(RateLimit, TheLimitHoldsTheReceivesOfADownload) {
  nettest::StartSockets();
  constexpr uint32_t kHoldMs = 2000;
  struct Case {
    const char* what;
    int64_t cap;          // bytes per second, 0: none
    int32_t pause_ms;     // paused from this far into the body's first half (-1: never)
    int32_t paused_for;   // then resumed after this long (-1: never)
    net::DownloadResult result;
    net::FailReason reason;
    uint32_t least_ms, most_ms;
  } const cases[] = {
      {"no cap", 0, -1, -1, net::DownloadResult::Ok, net::FailReason::kNone, 0, 3000},
      {"128 KiB/s: 96 KiB take 3/4 s, not stalled", 131072, -1, -1, net::DownloadResult::Ok, net::FailReason::kNone, 600, 3000},
      {"paused 1.5 s with a 600 ms stall rule: not stalled", 0, 0, 1500, net::DownloadResult::Ok,
       net::FailReason::kNone, 1450, 4000},
      {"paused for good: let go after the hold, bytes kept", 0, 0, -1, net::DownloadResult::Interrupted,
       net::FailReason::kCancelled, kHoldMs - 100, kHoldMs + 2000},
  };
  const std::string body = testsrv::PatternBytes(98304, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Half the body, a short gap (the pause starts in it), the other half.
    testsrv::ScriptedServer server({testsrv::Script()
                                        .Send(testsrv::OkResponse(body).substr(0, 200 + body.size() / 2))
                                        .Pause(200)
                                        .Send(testsrv::OkResponse(body).substr(200 + body.size() / 2))
                                        .HoldOpen(5000)});
    ASSERT_TRUE(server.Ok());
    nettest::TempFolder folder;
    net::SharedRate rate(rt::TickCount, rt::DelayWithEvents, kHoldMs);
    rate.SetRate(c.cap);
    std::atomic<bool> cancel{false};
    std::atomic<int64_t> received{0};
    net::FileDownload options(server.Url("a.dat"), folder.Path("a.dat"), ".tmp");
    options.rate = &rate;
    options.cancel = &cancel;
    options.received_counter = &received;
    // A stall rule no transfer here could pass once 600 ms of its own time
    // have run (the script's gap takes 200 ms of it; the rest is room for a
    // loaded machine): time held by the limit must not count.
    options.limits.stall_window_ms = 600;
    options.limits.stall_min_bytes = 1 << 20;
    int64_t during_pause[2] = {-1, -1};
    std::thread player([&] {
      if (c.pause_ms < 0) return;
      while (received.load() == 0) rt::DelayWithEvents(5);  // bounded by the server's script
      rate.Pause();
      rt::DelayWithEvents(300);
      during_pause[0] = received.load();
      if (c.paused_for < 0) return;
      rt::DelayWithEvents(c.paused_for - 300);
      during_pause[1] = received.load();
      rate.Resume();
    });
    std::atomic<int64_t> total{0}, done{0};
    const uint32_t start = rt::TickCount();
    const net::DownloadReport report = net::HttpDownloadReport(options, total, done);
    const uint32_t ms = rt::TickCount() - start;
    player.join();
    EXPECT_EQ(report.result, c.result);
    EXPECT_EQ(report.reason, c.reason);
    EXPECT_GE(ms, c.least_ms);
    EXPECT_LE(ms, c.most_ms);
    if (c.paused_for > 0) EXPECT_EQ(during_pause[0], during_pause[1]);  // no byte while paused
    if (c.result != net::DownloadResult::Ok) {
      EXPECT_EQ(rt::FileSize64(folder.Path("a.dat.tmp")), during_pause[0]);
    }
  }
}

}  // namespace

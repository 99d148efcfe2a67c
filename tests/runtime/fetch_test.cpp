#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/fetch.h"
#include "runtime/fetch_watch.h"
#include "runtime/fetch_url.h"

using namespace rt;

TEST(FetchUrl, ParsesSchemeHostPortAndPath) {
  struct Case {
    Text url;
    bool ok;
    bool secure;
    Text host;
    uint16_t port;
    Text path;
  } cases[] = {
      {"http://127.0.0.1:8088/patch/528/filelist.txt", true, false, "127.0.0.1", 8088, "/patch/528/filelist.txt"},
      {"http://example.test/", true, false, "example.test", 80, "/"},
      {"http://example.test", true, false, "example.test", 80, "/"},
      {"HTTP://h:81/a?b=c", true, false, "h", 81, "/a?b=c"},
      {"https://h/x", true, true, "h", 443, "/x"},
      {"ftp://h/x", false, false, "", 0, ""},
      {"h/x", false, false, "", 0, ""},
      {"http:///x", false, false, "", 0, ""},
      {"http://h:99999/x", false, false, "", 0, ""},
      {"http://h:8x/x", false, false, "", 0, ""},
      {"", false, false, "", 0, ""},
  };
  for (const auto& c : cases) {
    UrlParts parts;
    ASSERT_EQ(ParseFetchUrl(c.url, &parts), c.ok) << c.url;
    if (!c.ok) continue;
    EXPECT_EQ(parts.secure, c.secure) << c.url;
    EXPECT_EQ(parts.host, c.host) << c.url;
    EXPECT_EQ(parts.port, c.port) << c.url;
    EXPECT_EQ(parts.path, c.path) << c.url;
  }
}

TEST(FetchUrl, UnparsableOrUnreachableGivesEmptyBytes) {
  EXPECT_TRUE(FetchUrl("not a url").body.empty());
  // Port 1 on the loopback address: nothing listens there.
  EXPECT_TRUE(FetchUrl("http://127.0.0.1:1/filelist.txt").body.empty());
}

// The stall rule with the default limits, on a simulated clock: what loads
// and what fails, and when.
namespace {

constexpr int64_t kNever = -1;

struct Feed {
  uint32_t head_at_ms;  // when the head is complete (kNoHead: never)
  int64_t chunk;        // body bytes per step
  uint32_t step_ms;     // one step every step_ms
  int64_t total;        // body bytes in all
  uint32_t stop_at_ms;  // no body bytes from then on (0: none stop)
};
constexpr uint32_t kNoHead = 0xFFFFFFFFu;

// When the rule first says "stalled" (ms after sending), kNever when the
// whole body arrives first. `start` is the tick count at sending.
int64_t StalledAt(const FetchLimits& limits, const Feed& feed, uint32_t start) {
  FetchWatch watch(limits, start);
  int64_t body = 0;
  // Bounded: one step every step_ms, 10 minutes of simulated time at most.
  for (uint32_t t = 0; t <= 600000; t += feed.step_ms) {
    const bool head = feed.head_at_ms != kNoHead && t >= feed.head_at_ms;
    if (head && t - feed.step_ms < feed.head_at_ms) watch.HeadArrived(start + feed.head_at_ms);
    int64_t bytes = 0;
    if (head && t > feed.head_at_ms && (feed.stop_at_ms == 0 || t < feed.stop_at_ms)) {
      bytes = std::min(feed.chunk, feed.total - body);
      body += bytes;
    }
    if (watch.Check(bytes, start + t) != FetchOutcome::kOk) return t;
    if (head && body == feed.total) return kNever;
  }
  return 600001;  // neither: the rule never decided
}

}  // namespace

TEST(FetchWatch, TheDefaultRuleLoadsSlowListsAndEndsStalledOnes) {
  const FetchLimits defaults;
  constexpr int64_t kKiB = 1024;
  struct Case {
    const char* what;
    Feed feed;
    int64_t stalled_at;  // kNever, or the latest it may come
  } const cases[] = {
      {"2 MiB at 20 KiB/s", {100, kKiB, 50, 2048 * kKiB, 0}, kNever},
      {"2 MiB at 4 KiB/s, the floor of the total deadline", {100, 4 * kKiB, 1000, 2048 * kKiB, 0}, kNever},
      {"256 KiB at 1 KiB/s: below that floor", {100, 256, 250, 256 * kKiB, 0}, 40000},
      {"a drip just above the stall floor", {100, 21, 100, 64 * kKiB, 0}, 31700},
      {"just under the stall floor", {100, 20, 100, 64 * kKiB, 0}, 20200},
      {"a head sent a byte every 2 s", {kNoHead, 0, 2000, 1, 0}, 20000},
      {"silence after the head", {100, 0, 100, 1, 0}, 20200},
      {"a body that stops after 1 MiB", {100, kKiB, 50, 2048 * kKiB, 51300}, 51300 + 40000},
  };
  for (const Case& c : cases) {
    for (uint32_t start : {0u, 0xFFFFF000u}) {  // and across a wrap of the tick count
      const int64_t at = StalledAt(defaults, c.feed, start);
      if (c.stalled_at == kNever) {
        EXPECT_EQ(at, kNever) << c.what << " from " << start;
      } else {
        EXPECT_NE(at, kNever) << c.what << " from " << start;
        EXPECT_LE(at, c.stalled_at) << c.what << " from " << start;
        EXPECT_LT(at - (c.feed.stop_at_ms ? c.feed.stop_at_ms : 0), 60000) << c.what << ": within a minute";
      }
    }
  }
}

TEST(FetchWatch, WindowsAndWhatIsLeftOfThem) {
  FetchLimits limits;
  limits.stall_window_ms = 1000;
  limits.stall_min_bytes = 10;
  FetchWatch watch(limits, 5000);
  EXPECT_EQ(watch.MsLeft(5000), 1000u);
  EXPECT_EQ(watch.MsLeft(5600), 400u);
  EXPECT_EQ(watch.Check(0, 5999), FetchOutcome::kOk);
  EXPECT_EQ(watch.MsLeft(6000), 0u);
  EXPECT_EQ(watch.Check(0, 6000), FetchOutcome::kStalled);  // no head within its window
  watch.HeadArrived(6000);
  EXPECT_EQ(watch.MsLeft(6000), 1000u);
  EXPECT_EQ(watch.Check(10, 6500), FetchOutcome::kOk);
  EXPECT_EQ(watch.Check(0, 7000), FetchOutcome::kOk);  // ten bytes: the next window starts
  EXPECT_EQ(watch.MsLeft(7000), 1000u);
  EXPECT_EQ(watch.Check(9, 7999), FetchOutcome::kOk);
  EXPECT_EQ(watch.Check(0, 8000), FetchOutcome::kStalled);  // nine bytes: below the floor
}

// The total deadline: the base from the request, then ms_per_kib more for
// every whole KiB; what is left of it bounds a wait as the window does.
TEST(FetchWatch, TheDeadlineGrowsWithTheBytesReceived) {
  FetchLimits limits;
  limits.stall_window_ms = 100000;
  limits.base_deadline_ms = 3000;
  limits.ms_per_kib = 500;
  FetchWatch watch(limits, 0xFFFFFF00u);  // across a wrap of the tick count
  const uint32_t t0 = 0xFFFFFF00u;
  watch.HeadArrived(t0 + 100);
  EXPECT_EQ(watch.MsLeft(t0 + 1000), 2000u);
  EXPECT_EQ(watch.Check(1023, t0 + 1000), FetchOutcome::kOk);  // under a KiB: nothing more
  EXPECT_EQ(watch.MsLeft(t0 + 1000), 2000u);
  EXPECT_EQ(watch.Check(1, t0 + 2999), FetchOutcome::kOk);  // one KiB: 500 ms more
  EXPECT_EQ(watch.MsLeft(t0 + 2999), 501u);
  EXPECT_EQ(watch.Check(0, t0 + 3499), FetchOutcome::kOk);
  EXPECT_EQ(watch.Check(0, t0 + 3500), FetchOutcome::kTooSlow);
  EXPECT_EQ(watch.MsLeft(t0 + 3500), 0u);
}

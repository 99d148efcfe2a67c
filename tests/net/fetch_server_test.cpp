// FetchUrl (the remote list's whole-body fetch) against the scripted server
// on 127.0.0.1: what counts as a list, and every way a fetch fails.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "runtime/fetch.h"
#include "tests/net/sockets.h"
#include "tests/servers/scripted_server.h"

namespace {

using rt::FetchOutcome;
using rt::FetchResult;
using testsrv::OkResponse;
using testsrv::PatternBytes;
using testsrv::Script;
using testsrv::ScriptedServer;

class FetchServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { nettest::StartSockets(); }
};

std::string Text(const rt::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST_F(FetchServerTest, CompleteAnswerIsTheListAndTheRequestIsAPlainGet) {
  const std::string list = "a.dat#1\r\nb.dat#2\r\n";
  ScriptedServer server(Script().Send(OkResponse(list)));
  ASSERT_TRUE(server.Ok());
  const FetchResult got = rt::FetchUrl(server.Url("patch/528/filelist.txt"));
  EXPECT_EQ(got.outcome, FetchOutcome::kOk);
  EXPECT_EQ(got.status, 200);
  EXPECT_EQ(Text(got.body), list);
  // Byte for byte, on Windows what the system's HTTP client sends.
  EXPECT_EQ(server.Request(), "GET /patch/528/filelist.txt HTTP/1.0\r\nHost: 127.0.0.1:" +
                                  std::to_string(server.Port()) +
                                  "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
                                  "Pragma: no-cache\r\nAccept: */*\r\n\r\n");
}

TEST_F(FetchServerTest, ErrorStatusesAreFailuresWhateverTheirBody) {
  struct Case {
    std::string answer;
    int status;
    bool transient;
  } const cases[] = {
      {"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 19\r\n\r\nService Unavailable", 503, true},
      {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n", 500, true},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", 404, false},
      {"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", 403, false},
  };
  for (const Case& c : cases) {
    ScriptedServer server(Script().Send(c.answer));
    ASSERT_TRUE(server.Ok());
    const FetchResult got = rt::FetchUrl(server.Url("filelist.txt"));
    EXPECT_EQ(got.outcome, FetchOutcome::kHttpError) << c.status;
    EXPECT_EQ(got.status, c.status);
    EXPECT_TRUE(got.body.empty()) << c.status;
    EXPECT_EQ(got.transient(), c.transient) << c.status;
  }
}

TEST_F(FetchServerTest, ListCutShortIsAFailureNotAShorterList) {
  ScriptedServer server(
      Script().Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\na.dat#1\r\nb.dat#2\r\n").Pause(100));
  ASSERT_TRUE(server.Ok());
  const FetchResult got = rt::FetchUrl(server.Url("filelist.txt"));
  EXPECT_EQ(got.outcome, FetchOutcome::kCutShort);
  EXPECT_TRUE(got.body.empty());
  EXPECT_TRUE(got.transient());
}

TEST_F(FetchServerTest, BodyLargerThanTheCapIsRefusedAnnouncedOrNot) {
  rt::FetchLimits limits;
  limits.max_body_bytes = 1000;
  ScriptedServer server({Script().Send(OkResponse(PatternBytes(5000))),
                         Script().Send("HTTP/1.1 200 OK\r\n\r\n" + PatternBytes(3000)),
                         Script().Send(OkResponse(PatternBytes(1000)))});
  ASSERT_TRUE(server.Ok());
  for (int i = 0; i < 2; ++i) {
    const FetchResult got = rt::FetchUrl(server.Url("filelist.txt"), limits);
    EXPECT_EQ(got.outcome, FetchOutcome::kTooLarge) << i;
    EXPECT_TRUE(got.body.empty()) << i;
    EXPECT_FALSE(got.transient()) << i;
  }
  const FetchResult at_cap = rt::FetchUrl(server.Url("filelist.txt"), limits);
  EXPECT_EQ(at_cap.outcome, FetchOutcome::kOk);
  EXPECT_EQ(at_cap.body.size(), 1000u);
}

// Short limits: a one-second stall window with a floor of 1000 bytes in it.
rt::FetchLimits ShortLimits() {
  rt::FetchLimits limits;
  limits.connect_timeout_ms = 1000;
  limits.receive_timeout_ms = 3000;
  limits.stall_window_ms = 1000;
  limits.stall_min_bytes = 1000;
  return limits;
}

using Clock = std::chrono::steady_clock;
long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A server that keeps sending, each byte well inside the receive time-out,
// but too slowly: the stall rule ends it, the head included (one WinINet
// call that only closing its handle can cut short; under Wine not even that,
// and the fetch is given up after a grace period).
TEST_F(FetchServerTest, TricklingHeadsAndBodiesStall) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
  Script trickling_head;
  for (char c : head) trickling_head.Pause(200).Send(std::string(1, c));
  Script trickling_body;
  trickling_body.Send(head);
  for (int i = 0; i < 40; ++i) trickling_body.Pause(250).Send("x");
  struct Case {
    const char* what;
    Script script;
    long long within_ms;  // the window, and time for the grace of a cut call
  } const cases[] = {
      {"head", trickling_head, 6000},
      {"body", trickling_body, 3000},
  };
  for (const Case& c : cases) {
    ScriptedServer server(c.script);
    ASSERT_TRUE(server.Ok());
    const Clock::time_point start = Clock::now();
    const FetchResult got = rt::FetchUrl(server.Url("filelist.txt"), ShortLimits());
    const long long took = MsSince(start);
    EXPECT_EQ(got.outcome, FetchOutcome::kStalled) << c.what << ": " << rt::ToString(got.outcome);
    EXPECT_TRUE(got.body.empty()) << c.what;
    EXPECT_TRUE(got.transient()) << c.what;
    EXPECT_GE(took, 900) << c.what;  // not before its window ran out
    EXPECT_LT(took, c.within_ms) << c.what;
  }
}

// Slow but steady is no stall: 20 KB at about 10 KB/s, well above the floor,
// loads whole although it takes two windows and more.
TEST_F(FetchServerTest, ASlowButSteadyListLoads) {
  const std::string list = PatternBytes(20000);
  Script steady;
  steady.Send("HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n");
  for (size_t at = 0; at < list.size(); at += 1000) steady.Pause(100).Send(list.substr(at, 1000));
  ScriptedServer server(steady);
  ASSERT_TRUE(server.Ok());
  const FetchResult got = rt::FetchUrl(server.Url("filelist.txt"), ShortLimits());
  EXPECT_EQ(got.outcome, FetchOutcome::kOk) << rt::ToString(got.outcome);
  EXPECT_EQ(Text(got.body), list);
}

TEST_F(FetchServerTest, ASilentServerEndsInATimeOut) {
  // Accepts, reads the request, never answers: the receive time-out ends it
  // before the stall window would.
  rt::FetchLimits limits;
  limits.receive_timeout_ms = 500;
  ScriptedServer silent(Script().HoldOpen(10000));
  ASSERT_TRUE(silent.Ok());
  const FetchResult none = rt::FetchUrl(silent.Url("filelist.txt"), limits);
  EXPECT_EQ(none.outcome, FetchOutcome::kTimedOut) << rt::ToString(none.outcome);
  EXPECT_TRUE(none.transient());
}

TEST_F(FetchServerTest, UnparsableAndUnreachable) {
  const FetchResult bad = rt::FetchUrl("not a url");
  EXPECT_EQ(bad.outcome, FetchOutcome::kBadUrl);
  EXPECT_FALSE(bad.transient());
  // Port 1 on the loopback address: nothing listens there.
  const FetchResult refused = rt::FetchUrl("http://127.0.0.1:1/filelist.txt");
  EXPECT_EQ(refused.outcome, FetchOutcome::kUnreachable);
  EXPECT_TRUE(refused.transient());
  EXPECT_EQ(refused.status, 0);
}

}  // namespace

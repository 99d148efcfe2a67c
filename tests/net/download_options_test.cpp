// The download options a caller that verifies files itself relies on: the
// body observer, the expected size, leaving the file uninstalled, the time
// limits, and what a failed try reports.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "net/file_download.h"
#include "net/rate_limit.h"
#include "net/tcp_socket.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "tests/net/sockets.h"
#include "tests/net/temp_folder.h"
#include "tests/servers/scripted_server.h"

#ifndef _WIN32
#include <unistd.h>

#include <cerrno>
#endif

namespace {

using net::DownloadResult;
using net::FailReason;
using nettest::ReadText;
using nettest::WriteText;
using testsrv::OkResponse;
using testsrv::PatternBytes;
using testsrv::Script;
using testsrv::ScriptedServer;

// What a hashing caller would see: the body from byte 0, started over when told.
class Recorder : public net::BodySink {
 public:
  net::SinkResult Begin(bool restart) override {
    if (restart) {
      bytes.clear();
      ++restarts;
    }
    return net::SinkResult();
  }
  net::SinkResult Write(const std::uint8_t* data, size_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), size);
    writes.push_back(size);
    return net::SinkResult();
  }
  std::string bytes;
  std::vector<size_t> writes;
  int restarts = 0;
};

std::string Partial206(const std::string& body, size_t from) {
  return "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(body.size() - from) +
         "\r\nContent-Range: bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/" +
         std::to_string(body.size()) + "\r\n\r\n" + body.substr(from);
}

// The run's other transfers: `per_50ms` bytes added to the run's counter
// every 50 ms, until destroyed (at most 10 s).
class OtherTransfers {
 public:
  explicit OtherTransfers(int64_t per_50ms)
      : thread_([this, per_50ms] {
          for (int i = 0; i < 200 && !over_.load(); ++i) {
            bytes.fetch_add(per_50ms);
            rt::DelayWithEvents(50);
          }
        }) {}
  ~OtherTransfers() {
    over_.store(true);
    thread_.join();
  }
  std::atomic<int64_t> bytes{0};

 private:
  std::atomic<bool> over_{false};
  std::thread thread_;  // declared last: it starts once the counters exist
};

class DownloadOptionsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { nettest::StartSockets(); }
  std::string Target() const { return folder_.Path("a.dat"); }
  std::string Partial() const { return folder_.Path("a.dat.tmp"); }
  net::FileDownload Options(const ScriptedServer& server) const {
    net::FileDownload options(server.Url("a.dat"), Target(), ".tmp");
    options.limits.receive_wait_ms = 3000;
    return options;
  }
  net::DownloadReport Run(const net::FileDownload& options) { return net::HttpDownloadReport(options, total_, done_); }

  nettest::TempFolder folder_;
  std::atomic<int64_t> total_{0};
  std::atomic<int64_t> done_{0};
};

TEST_F(DownloadOptionsTest, TheObserverSeesTheFileFromByteZeroWhateverTheServerDoes) {
  const std::string body = PatternBytes(40000, 11);
  const std::string refusal = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */40000\r\n\r\n";
  struct Case {
    const char* what;
    std::string partial;  // "-": none
    std::vector<Script> scripts;
    int restarts;  // Restart() calls: one at the start, one per start over
  } const cases[] = {
      {"a fresh download", "-", {Script().Send(OkResponse(body))}, 1},
      {"a resume: the partial file's bytes first", body.substr(0, 12345), {Script().Send(Partial206(body, 12345))}, 1},
      {"a whole answer to a range request", std::string(5000, 'G'), {Script().Send(OkResponse(body))}, 2},
      {"a stale partial file, dropped after a 416", body + "stale",
       {Script().Send(refusal), Script().Send(OkResponse(body))}, 2},
      {"a chunked answer",
       "-",
       {Script().Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9C40\r\n" + body + "\r\n0\r\n\r\n")},
       1},
  };
  for (const Case& c : cases) {
    ScriptedServer server(c.scripts);
    ASSERT_TRUE(server.Ok());
    rt::RemoveFile(Target());
    rt::RemoveFile(Partial());
    if (c.partial != "-") WriteText(Partial(), c.partial);
    Recorder recorder;
    net::FileDownload options = Options(server);
    options.next = &recorder;
    options.flush_size = 1000;
    EXPECT_EQ(Run(options).result, DownloadResult::Ok) << c.what;
    EXPECT_TRUE(recorder.bytes == body) << c.what;
    EXPECT_TRUE(ReadText(Target()) == body) << c.what;
    EXPECT_EQ(recorder.restarts, c.restarts) << c.what;
  }
}

// A body that arrives 16 KiB per read, as over a long line, is written in
// pieces of a whole read-ahead buffer: the reads append to the buffer until
// it is full. Only the body bytes of the head's read and the last piece may
// be smaller.
TEST_F(DownloadOptionsTest, ABodyInSmallReadsIsWrittenInWholeReadAheadBuffers) {
  constexpr size_t kPiece = 16384;
  constexpr size_t kSize = 4 * net::kReadAheadSize + 5000;
  const std::string body = PatternBytes(kSize, 13);
  Script script;
  script.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kSize) + "\r\n\r\n");
  for (size_t at = 0; at < kSize; at += kPiece) script.Pause(2).Send(body.substr(at, kPiece));
  ScriptedServer server(script);
  ASSERT_TRUE(server.Ok());
  Recorder recorder;
  net::FileDownload options = Options(server);
  options.next = &recorder;
  ASSERT_EQ(Run(options).result, DownloadResult::Ok);
  EXPECT_TRUE(recorder.bytes == body);
  const auto small = std::count_if(recorder.writes.begin(), recorder.writes.end(), [](size_t size) {
    return size < net::kReadAheadSize - 2 * kPiece;
  });
  EXPECT_LE(small, 2) << recorder.writes.size() << " writes";
}

// A pause writes what arrived before it waits: a player who pauses and then
// ends the updater keeps those bytes, which a read-ahead buffer would
// otherwise hold until it was full.
TEST_F(DownloadOptionsTest, APauseWritesWhatArrived) {
  constexpr size_t kFirst = 100000;
  const std::string body = PatternBytes(3 * kFirst, 14);
  ScriptedServer server(Script()
                            .Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n")
                            .Send(body.substr(0, kFirst))
                            .Pause(1500)
                            .Send(body.substr(kFirst)));
  ASSERT_TRUE(server.Ok());
  net::SharedRate rate(rt::TickCount, rt::DelayWithEvents);
  net::FileDownload options = Options(server);
  options.rate = &rate;
  net::DownloadReport report;
  std::thread run([&] { report = Run(options); });
  for (int i = 0; i < 300 && done_.load() < static_cast<int64_t>(kFirst); ++i) rt::DelayWithEvents(10);
  rate.Pause();
  int64_t written = -1;
  for (int i = 0; i < 100 && written != static_cast<int64_t>(kFirst); ++i) {
    rt::DelayWithEvents(10);
    written = rt::FileSize64(Partial());
  }
  EXPECT_EQ(written, static_cast<int64_t>(kFirst));
  rate.Resume();
  run.join();
  EXPECT_EQ(report.result, DownloadResult::Ok);
  EXPECT_TRUE(ReadText(Target()) == body);
}

TEST_F(DownloadOptionsTest, ACutAndItsResumeShowTheObserverWhatThePartialFileHolds) {
  const std::string body = PatternBytes(30000, 12);
  const std::string answer = OkResponse(body);
  const size_t head = answer.size() - body.size();
  ScriptedServer server({Script().Send(answer.substr(0, head + 10000)), Script().Send(Partial206(body, 10000))});
  ASSERT_TRUE(server.Ok());
  Recorder first, second;
  std::atomic<int64_t> received{0};
  net::FileDownload options = Options(server);
  options.next = &first;
  options.received_counter = &received;
  EXPECT_EQ(Run(options).result, DownloadResult::Interrupted);
  EXPECT_TRUE(first.bytes == ReadText(Partial()));
  EXPECT_EQ(first.bytes.size(), 10000u);
  EXPECT_EQ(received.load(), 10000);
  options.next = &second;
  EXPECT_EQ(Run(options).result, DownloadResult::Ok);
  EXPECT_TRUE(second.bytes == body);
  // The resume added only what it received: each byte of the file once.
  EXPECT_EQ(received.load(), 30000);
}

// With install off the complete file waits in its partial file for the
// caller's check; a 416 saying it is complete is the same success.
TEST_F(DownloadOptionsTest, WithoutInstallTheCompleteFileStaysInItsPartialFile) {
  const std::string body = PatternBytes(20000, 13);
  ScriptedServer server({Script().Send(OkResponse(body)),
                         Script().Send("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */20000\r\n\r\n")});
  ASSERT_TRUE(server.Ok());
  WriteText(Target(), "old target");
  net::FileDownload options = Options(server);
  options.install = false;
  Recorder recorder;
  options.next = &recorder;
  EXPECT_EQ(Run(options).result, DownloadResult::Ok);
  EXPECT_EQ(ReadText(Target()), "old target");
  EXPECT_TRUE(ReadText(Partial()) == body);

  // Called again (say, the check was interrupted): nothing to fetch.
  EXPECT_EQ(Run(options).result, DownloadResult::Ok);
  EXPECT_NE(server.Request(1).find("Range: bytes=20000-"), std::string::npos);
  EXPECT_EQ(ReadText(Target()), "old target");
  EXPECT_TRUE(ReadText(Partial()) == body);
  EXPECT_TRUE(recorder.bytes == body);
  EXPECT_EQ(total_.load(), 20000);
  EXPECT_EQ(done_.load(), 20000);
}

TEST_F(DownloadOptionsTest, AnAnswerOfAnotherSizeThanExpectedIsRefused) {
  const std::string body = PatternBytes(5000, 14);
  struct Case {
    const char* what;
    std::string partial;  // "-": none
    std::string answer;
    DownloadResult want;
    std::string partial_after;  // "-": none
  } const cases[] = {
      {"a Content-Length above it", "-", OkResponse(body + "more"), DownloadResult::BadStatus, "-"},
      {"a Content-Length below it", "-", OkResponse(body.substr(1)), DownloadResult::BadStatus, "-"},
      {"a 206 naming another whole size", body.substr(0, 100),
       "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 100-5999/6000\r\n\r\n" + PatternBytes(5900),
       DownloadResult::BadStatus, body.substr(0, 100)},
      {"a 416 naming another whole size", body.substr(0, 3000),
       "HTTP/1.1 416 No\r\nContent-Range: bytes */2000\r\n\r\n", DownloadResult::BadStatus, body.substr(0, 3000)},
      {"a chunked body running past it", "-",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1389\r\n" + body + "x\r\n0\r\n\r\n",
       DownloadResult::SizeMismatch, "-"},
      {"a chunked body ending short of it", "-",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1387\r\n" + body.substr(1) + "\r\n0\r\n\r\n",
       DownloadResult::SizeMismatch, "-"},
  };
  for (const Case& c : cases) {
    ScriptedServer server(Script().Send(c.answer).HoldOpen(3000));
    ASSERT_TRUE(server.Ok());
    WriteText(Target(), "old target");
    rt::RemoveFile(Partial());
    if (c.partial != "-") WriteText(Partial(), c.partial);
    net::FileDownload options = Options(server);
    options.expected_size = 5000;
    const net::DownloadReport report = Run(options);
    EXPECT_EQ(report.result, c.want) << c.what;
    EXPECT_EQ(report.reason, FailReason::kSizeDiffers) << c.what;
    EXPECT_EQ(ReadText(Target()), "old target") << c.what;
    if (c.partial_after == "-") {
      EXPECT_FALSE(rt::FileExists(Partial())) << c.what;
    } else {
      EXPECT_TRUE(ReadText(Partial()) == c.partial_after) << c.what;
    }
  }
}

TEST_F(DownloadOptionsTest, APartialFileLongerThanExpectedGoesBeforeTheRequest) {
  const std::string body = PatternBytes(3000, 15);
  ScriptedServer server(Script().Send(OkResponse(body)));
  ASSERT_TRUE(server.Ok());
  WriteText(Partial(), PatternBytes(3001));
  net::FileDownload options = Options(server);
  options.expected_size = 3000;
  const net::DownloadReport report = Run(options);
  EXPECT_EQ(report.result, DownloadResult::Ok);
  EXPECT_FALSE(report.resumed);
  EXPECT_EQ(server.Request().find("Range:"), std::string::npos);
  EXPECT_TRUE(ReadText(Target()) == body);
}

// A server that sends `bytes` every `every_ms`, `times` times, after a head
// announcing more.
Script Trickle(size_t bytes, int every_ms, int times) {
  Script script;
  script.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n");
  for (int i = 0; i < times; ++i) script.Pause(every_ms).Send(PatternBytes(bytes, static_cast<size_t>(i) * bytes));
  return script;
}

TEST_F(DownloadOptionsTest, SlowTransfersEndByTheStallRuleOrTheFloorRate) {
  struct Case {
    const char* what;
    Script script;
    net::TransferLimits limits;
    FailReason want;
  };
  net::TransferLimits stall_only;
  stall_only.stall_window_ms = 400;
  stall_only.stall_min_bytes = 1000;
  stall_only.floor_window_ms = 0;
  net::TransferLimits floor_only;
  floor_only.stall_window_ms = 0;
  floor_only.floor_window_ms = 600;
  floor_only.floor_bytes_per_second = 4096;
  const Case cases[] = {
      // 10 bytes every 50 ms: 80 bytes in a 400 ms window.
      {"a trickle stalls", Trickle(10, 50, 100), stall_only, FailReason::kStalled},
      // 200 bytes every 100 ms: 2000 B/s, passing any stall rule, half the floor.
      {"a slow but steady transfer falls below the floor", Trickle(200, 100, 40), floor_only,
       FailReason::kBelowFloorRate},
      {"the floor is first checked after its window: a short slow transfer passes", Trickle(200, 100, 3), floor_only,
       FailReason::kClosed},
  };
  for (const Case& c : cases) {
    ScriptedServer server(c.script);
    ASSERT_TRUE(server.Ok());
    rt::RemoveFile(Partial());
    net::FileDownload options = Options(server);
    options.limits = c.limits;
    options.limits.receive_wait_ms = 3000;
    const net::DownloadReport report = Run(options);
    EXPECT_EQ(report.result, DownloadResult::Interrupted) << c.what;
    EXPECT_EQ(report.reason, c.want) << c.what;
    // What arrived stays for the next try.
    EXPECT_EQ(rt::FileSize64(Partial()), report.received) << c.what;
    EXPECT_EQ(done_.load(), report.received) << c.what;
    EXPECT_GT(report.received, 0) << c.what;
    if (c.want != FailReason::kClosed) {
      EXPECT_GT(report.window_bytes, 0) << c.what;
      EXPECT_GE(report.wait_ms, c.want == FailReason::kStalled ? 400u : 600u) << c.what;
    }
  }
}

// 2000 B/s of its own, below a 4096 B/s floor: whether it is cut depends on
// what the floor judges, and on what the run's other transfers bring.
TEST_F(DownloadOptionsTest, TheFloorJudgesTheWholeRunWhenNoOtherMirrorIsLeft) {
  struct Case {
    const char* what;
    bool judges_run;
    int64_t others_per_50ms;  // bytes the run's other transfers add
    FailReason want;
  } const cases[] = {
      {"judged alone (another mirror left): cut, whatever the run brings", false, 1000, FailReason::kBelowFloorRate},
      {"the run as a whole above the floor: not cut", true, 1000, FailReason::kClosed},
      {"the whole run below the floor: cut", true, 0, FailReason::kBelowFloorRate},
  };
  for (const Case& c : cases) {
    ScriptedServer server(Trickle(200, 100, 15));
    ASSERT_TRUE(server.Ok());
    rt::RemoveFile(Partial());
    OtherTransfers others(c.others_per_50ms);
    net::FileDownload options = Options(server);
    options.limits.stall_window_ms = 0;
    options.limits.floor_window_ms = 600;
    options.limits.floor_bytes_per_second = 4096;
    options.received_counter = &others.bytes;
    options.floor_judges_run = c.judges_run;
    const net::DownloadReport report = Run(options);
    EXPECT_EQ(report.result, DownloadResult::Interrupted) << c.what;
    EXPECT_EQ(report.reason, c.want) << c.what;
  }
}

// A wait of 900 ms, past a 300 ms receive wait, before the answer or inside
// the body: it is waited out while the run's other transfers receive (this
// connection's bytes queue behind theirs on a line they share), for no
// longer than the limit.
TEST_F(DownloadOptionsTest, AWaitBehindTheRunsOtherTransfersIsWaitedOut) {
  const std::string answer = OkResponse(PatternBytes(500));
  const Script before_answer = Script().Pause(900).Send(answer);
  const Script in_body = Script().Send(answer.substr(0, 300)).Pause(900).Send(answer.substr(300));
  struct Case {
    const char* what;
    Script script;
    int64_t others_per_50ms;
    int32_t behind_run_ms;
    FailReason want;
  } const cases[] = {
      {"the run receives: the answer is waited for", before_answer, 1000, 3000, FailReason::kNone},
      {"the run receives: the body's gap is waited out", in_body, 1000, 3000, FailReason::kNone},
      {"the run stands still: no answer", before_answer, 0, 3000, FailReason::kNoAnswer},
      {"the run stands still: the body times out", in_body, 0, 3000, FailReason::kTimedOut},
      {"the run receives, but the answer comes past the limit", before_answer, 1000, 300, FailReason::kNoAnswer},
  };
  for (const Case& c : cases) {
    ScriptedServer server(c.script);
    ASSERT_TRUE(server.Ok());
    rt::RemoveFile(Partial());
    OtherTransfers others(c.others_per_50ms);
    net::FileDownload options = Options(server);
    options.limits.receive_wait_ms = 300;
    options.limits.wait_behind_run_ms = c.behind_run_ms;
    options.received_counter = &others.bytes;
    const net::DownloadReport report = Run(options);
    EXPECT_EQ(report.reason, c.want) << c.what;
    if (c.want == FailReason::kNone) {
      EXPECT_EQ(ReadText(Target()), PatternBytes(500)) << c.what;
    } else {
      EXPECT_EQ(report.wait_ms, static_cast<uint32_t>(300 + (c.behind_run_ms < 900 ? c.behind_run_ms : 0)))
          << c.what;
    }
  }
}

TEST_F(DownloadOptionsTest, EveryFailedTryCarriesItsReason) {
  uint16_t closed_port = 0;
  {
    net::TcpSocket probe;
    rt::Text host;
    ASSERT_TRUE(probe.Create() && probe.Bind(0, "127.0.0.1") && probe.LocalAddress(host, closed_port));
  }
  struct Case {
    const char* what;
    std::string url;  // empty: the server's
    Script script;
    DownloadResult want;
    FailReason reason;
    std::string described;
  } const cases[] = {
      {"refused", "http://127.0.0.1:" + std::to_string(closed_port) + "/a.dat", Script(),
       DownloadResult::ConnectFailed, FailReason::kRefused, "connection refused"},
      {"no such host", "http://no-such-host.invalid/a.dat", Script(), DownloadResult::ConnectFailed,
       FailReason::kHostNotFound, "host not found"},
      {"closed before an answer", "", Script(), DownloadResult::Interrupted, FailReason::kClosed,
       "closed after 0 bytes"},
      {"closed inside the body", "", Script().Send(OkResponse(PatternBytes(500)).substr(0, 200)),
       DownloadResult::Interrupted, FailReason::kClosed, "closed after 160 bytes"},
      {"a 404", "", Script().Send("HTTP/1.1 404 Not Found\r\n\r\n"), DownloadResult::BadStatus,
       FailReason::kHttpStatus, "HTTP status 404"},
      {"a 503", "", Script().Send("HTTP/1.1 503 Busy\r\n\r\n"), DownloadResult::ServerError, FailReason::kHttpStatus,
       "HTTP status 503"},
      {"not HTTP", "", Script().Send("SSH-2.0-OpenSSH\r\n\r\n"), DownloadResult::BadStatus, FailReason::kNotHttp,
       "no HTTP status line"},
      {"a bad Content-Range", "",
       Script().Send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-9/10\r\n\r\n12345"),
       DownloadResult::BadStatus, FailReason::kBadContentRange, "bad Content-Range"},
      {"a bad Content-Length", "", Script().Send("HTTP/1.1 200 OK\r\nContent-Length: 1e3\r\n\r\n"),
       DownloadResult::BadStatus, FailReason::kBadContentLength, "bad Content-Length"},
      {"a malformed chunked body", "",
       Script().Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcd"), DownloadResult::SizeMismatch,
       FailReason::kMalformedBody, "malformed chunked body"},
  };
  for (const Case& c : cases) {
    ScriptedServer server(c.script);
    ASSERT_TRUE(server.Ok());
    rt::RemoveFile(Partial());
    net::FileDownload options = Options(server);
    if (!c.url.empty()) options = net::FileDownload(c.url, Target(), ".tmp");
    const net::DownloadReport report = Run(options);
    EXPECT_EQ(report.result, c.want) << c.what;
    EXPECT_EQ(report.reason, c.reason) << c.what;
    EXPECT_EQ(net::Describe(report), c.described) << c.what;
  }
}

TEST_F(DownloadOptionsTest, APartialFileThatCannotBeOpenedSaysSo) {
  ScriptedServer server(Script().Send(Partial206("0123456789", 4)));
  ASSERT_TRUE(server.Ok());
  WriteText(Partial(), "0123");
  rt::OpenedFile holder(rt::OpenFile(Partial(), rt::kModeRead, rt::kShareExclusive));
  ASSERT_TRUE(holder);
  const net::DownloadReport report = Run(Options(server));
  EXPECT_EQ(report.result, DownloadResult::WriteFailed);
  EXPECT_EQ(report.reason, FailReason::kCannotOpen);
}

#ifndef _WIN32
// A full disk, for real: the partial file is a link to /dev/full, where
// every write fails with ENOSPC.
TEST_F(DownloadOptionsTest, AFullDiskIsToldApartFromOtherWriteFailures) {
  {
    const rt::OpenedFile device(rt::OpenFile("/dev/full", rt::kModeWrite, rt::kShareDenyNone));
    ASSERT_TRUE(device);
    const std::uint8_t byte = 'x';
    EXPECT_FALSE(rt::WriteToFile(device.get(), &byte, 1));
    EXPECT_EQ(rt::LastFileError(), static_cast<uint32_t>(ENOSPC));
    EXPECT_TRUE(rt::LastFileErrorIsDiskFull());
  }

  const std::string body = PatternBytes(50000, 16);
  ScriptedServer server(Script().Send(Partial206(body, 0)));
  ASSERT_TRUE(server.Ok());
  ASSERT_EQ(symlink("/dev/full", Partial().c_str()), 0);
  WriteText(Target(), "old target");
  const net::DownloadReport report = Run(Options(server));
  EXPECT_EQ(report.result, DownloadResult::WriteFailed);
  EXPECT_EQ(report.reason, FailReason::kDiskFull);
  EXPECT_EQ(report.system_error, ENOSPC);
  EXPECT_EQ(net::Describe(report), "disk full");
  EXPECT_EQ(ReadText(Target()), "old target");
}
#endif

// Sizes past 2 GiB and 4 GiB: a sparse partial file of each boundary size is
// resumed, and the counters and the installed file carry the whole size.
TEST_F(DownloadOptionsTest, ResumesPastThe32BitBoundaries) {
  const int64_t sizes[] = {(int64_t{1} << 31) - 1, int64_t{1} << 31, (int64_t{1} << 32) - 1, int64_t{1} << 32,
                           (int64_t{1} << 32) + 1};
  const std::string tail = PatternBytes(100, 17);
  for (const int64_t kept : sizes) {
    {
      rt::OpenedFile sparse(rt::OpenFile(Partial(), rt::kModeCreateWrite, rt::kShareDenyNone));
      ASSERT_TRUE(sparse);
      const std::uint8_t last = 'P';
      ASSERT_TRUE(rt::SeekFile(sparse.get(), kept - 1) && rt::WriteToFile(sparse.get(), &last, 1));
    }
    const int64_t whole = kept + 100;
    ScriptedServer server(Script().Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 100\r\nContent-Range: bytes " +
                                        std::to_string(kept) + "-" + std::to_string(whole - 1) + "/" +
                                        std::to_string(whole) + "\r\n\r\n" + tail));
    ASSERT_TRUE(server.Ok());
    net::FileDownload options = Options(server);
    options.expected_size = whole;
    EXPECT_EQ(Run(options).result, DownloadResult::Ok) << kept;
    EXPECT_NE(server.Request().find("\r\nRange: bytes=" + std::to_string(kept) + "-\r\n"), std::string::npos) << kept;
    EXPECT_EQ(total_.load(), whole) << kept;
    EXPECT_EQ(done_.load(), whole) << kept;
    EXPECT_EQ(rt::FileSize64(Target()), whole) << kept;
    rt::RemoveFile(Target());
  }
}

}  // namespace

// A cancelled call ends within a piece of the receive wait, wherever it is,
// and keeps what arrived for a later call; one cancelled before it starts
// sends nothing and leaves the partial file alone.
TEST_F(DownloadOptionsTest, ACancelledCallEndsSoonAndKeepsItsPartialFile) {
  const std::string body = PatternBytes(50000, 17);
  const std::string answer = OkResponse(body);
  const size_t head = answer.size() - body.size();
  struct Case {
    const char* what;
    Script script;
    int64_t kept;  // bytes in the partial file afterwards
  } const cases[] = {
      {"waiting for the head", Script().HoldOpen(10000), -1},
      {"in the middle of the body", Script().Send(answer.substr(0, head + 7000)).HoldOpen(10000), 7000},
  };
  for (const Case& c : cases) {
    ScriptedServer server({c.script});
    ASSERT_TRUE(server.Ok());
    rt::RemoveFile(Partial());
    std::atomic<bool> cancel{false};
    net::FileDownload options = Options(server);
    options.limits.receive_wait_ms = 10000;
    options.cancel = &cancel;
    std::thread canceller([&cancel] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      cancel = true;
    });
    const uint32_t started = rt::TickCount();
    const net::DownloadReport report = Run(options);
    const uint32_t took = rt::TickCount() - started;
    canceller.join();
    EXPECT_EQ(report.result, DownloadResult::Interrupted) << c.what;
    EXPECT_EQ(report.reason, FailReason::kCancelled) << c.what;
    EXPECT_LT(took, 300u + 4 * net::kCancelPollMs) << c.what;
    EXPECT_EQ(rt::FileSize64(Partial()), c.kept) << c.what;
    EXPECT_EQ(report.received, c.kept < 0 ? 0 : c.kept) << c.what;
  }

  WriteText(Partial(), "kept");
  ScriptedServer untouched({Script().Send(Partial206("keptxx", 4))});
  ASSERT_TRUE(untouched.Ok());
  std::atomic<bool> cancel{true};
  net::FileDownload options = Options(untouched);
  options.cancel = &cancel;
  const net::DownloadReport report = Run(options);
  EXPECT_EQ(report.result, DownloadResult::Interrupted);
  EXPECT_EQ(report.reason, FailReason::kCancelled);
  EXPECT_EQ(net::Describe(report), "cancelled after 0 bytes");
  EXPECT_EQ(ReadText(Partial()), "kept");
  EXPECT_EQ(untouched.Requests(), 0u);
}

// HttpDownload against the scripted server on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "net/download_result.h"
#include "net/file_download.h"
#include "net/http_download.h"
#include "net/partial_file.h"
#include "net/url_escape.h"
#include "runtime/files.h"
#include "tests/net/sockets.h"
#include "tests/net/temp_folder.h"
#include "tests/servers/scripted_server.h"

namespace {

using net::DownloadResult;
using nettest::ReadText;
using nettest::TempFolder;
using nettest::WriteText;
using testsrv::OkResponse;
using testsrv::PatternBytes;
using testsrv::Script;
using testsrv::ScriptedServer;

// One engine call with its counters.
struct Call {
  std::atomic<int64_t> total{0};
  std::atomic<int64_t> done{0};
  DownloadResult result = DownloadResult::Ok;
  net::DownloadReport report;

  DownloadResult Run(const std::string& url, const std::string& path, bool rename = false,
                     bool headers_only = false, const std::string& cookie = std::string(),
                     rt::Bytes* body = nullptr, int32_t flush_size = 10240) {
    net::FileDownload options(url, path, ".tmp");
    options.rename_if_exists = rename;
    options.flush_size = flush_size;
    options.headers_only = headers_only;
    options.cookie = cookie;
    options.body = body;
    return Run(options);
  }
  DownloadResult Run(const net::FileDownload& options) {
    report = net::HttpDownloadReport(options, total, done);
    result = report.result;
    return result;
  }
};

class HttpDownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { nettest::StartSockets(); }
  TempFolder folder_;
  std::string Target() const { return folder_.Path("a.dat"); }
  std::string Partial() const { return folder_.Path("a.dat.tmp"); }
};

std::string FreshRequest(const std::string& path, const std::string& host_field,
                         const std::string& cookie_line = std::string()) {
  return "GET /" + path + " HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nHost: " +
         host_field + "\r\nConnection: Keep-Alive\r\n" + cookie_line + "\r\n\r\n";
}

std::string ResumeRequest(const std::string& path, const std::string& host_field, int start,
                          const std::string& cookie_tail = "\r\n\r\n") {
  return "GET /" + path + " HTTP/1.1\r\nHost: " + host_field +
         "\r\nAccept: */*\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
         "Range: bytes=" +
         std::to_string(start) +
         "-\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nConnection: close" + cookie_tail;
}

// ---- request bytes ----------------------------------------------------------

TEST_F(HttpDownloadTest, FreshAndResumeRequestBytesWithPort) {
  const std::string body = PatternBytes(3000);
  ScriptedServer server({Script().Send(OkResponse(body)),
                         Script().Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 2000\r\n"
                                       "Content-Range: bytes 1000-2999/3000\r\n\r\n" +
                                       body.substr(1000))});
  ASSERT_TRUE(server.Ok());
  const std::string url = net::EscapeUrl(server.Url("patch/528/\xD6\xD0 a.dat"));
  const std::string host_field = "127.0.0.1:" + std::to_string(server.Port());
  Call fresh;
  EXPECT_EQ(fresh.Run(url, Target()), DownloadResult::Ok);
  EXPECT_EQ(server.Request(0), FreshRequest("patch/528/%E4%B8%AD%20a.dat", host_field));
  EXPECT_EQ(ReadText(Target()), body);

  WriteText(Partial(), body.substr(0, 1000));
  Call resume;
  EXPECT_EQ(resume.Run(url, Target()), DownloadResult::Ok);
  EXPECT_EQ(server.Request(1), ResumeRequest("patch/528/%E4%B8%AD%20a.dat", host_field, 1000));
  EXPECT_EQ(ReadText(Target()), body);
  EXPECT_EQ(resume.total.load(), 3000);
  EXPECT_EQ(resume.done.load(), 3000);
  EXPECT_FALSE(rt::FileExists(Partial()));
}

TEST_F(HttpDownloadTest, RequestWithoutPortGoesToPort80WithBareHost) {
  // Port 80 on 127.0.0.1 may be taken on this machine; any loopback address
  // will do. The server lets the client close first, so that no TIME_WAIT
  // is left on port 80 to block the next run.
  for (const char* address : {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5",
                              "127.0.0.6", "127.0.0.7", "127.0.0.8", "127.0.0.9"}) {
    ScriptedServer server({Script().Send(OkResponse("x")).HoldOpen(5000),
                           Script().Send(OkResponse("y")).HoldOpen(5000)},
                          80, address);
    if (!server.Ok()) continue;
    const std::string url = std::string("http://") + address + "/patch/528/a.dat";
    Call fresh;
    EXPECT_EQ(fresh.Run(url, Target()), DownloadResult::Ok);
    EXPECT_EQ(server.Request(0), FreshRequest("patch/528/a.dat", address));
    WriteText(Partial(), "");
    Call resume;
    EXPECT_EQ(resume.Run(url, Target()), DownloadResult::Ok);
    EXPECT_EQ(server.Request(1), ResumeRequest("patch/528/a.dat", address, 0));
    return;
  }
  GTEST_SKIP() << "port 80 is not available on any loopback address tried";
}

TEST_F(HttpDownloadTest, CookieLineInBothForms) {
  ScriptedServer server({Script().Send(OkResponse("ab")), Script().Send(OkResponse("cd"))});
  ASSERT_TRUE(server.Ok());
  const std::string host_field = "127.0.0.1:" + std::to_string(server.Port());
  Call fresh;
  EXPECT_EQ(fresh.Run(server.Url("c.dat"), Target(), false, false, "sid=1"), DownloadResult::Ok);
  EXPECT_EQ(server.Request(0), FreshRequest("c.dat", host_field, "Cookie: sid=1\r\n"));
  WriteText(Partial(), "");
  Call resume;
  EXPECT_EQ(resume.Run(server.Url("c.dat"), Target(), false, false, "sid=1"), DownloadResult::Ok);
  EXPECT_EQ(server.Request(1), ResumeRequest("c.dat", host_field, 0, "\r\nCookie: sid=1\r\n\r\n\r\n"));
}

// A caller that split its folder URL once hands each file's URL over in
// pieces: the same request goes out, and the numbered name comes from the
// file's own name.
TEST_F(HttpDownloadTest, OptionsTakeAUrlSplitOnceForItsFolder) {
  ScriptedServer server({Script().Send(OkResponse("ab")), Script().Send(OkResponse("cd"))});
  ASSERT_TRUE(server.Ok());
  const std::string host_field = "127.0.0.1:" + std::to_string(server.Port());
  const net::DownloadUrl site = net::SplitDownloadUrl(server.Url("patch/528/"));
  std::atomic<int64_t> total{0}, done{0};
  net::FileDownload fresh(net::UrlBelow(site, "x/%E4%B8%AD.dat"), Target(), ".tmp");
  EXPECT_EQ(net::HttpDownload(fresh, total, done), DownloadResult::Ok);
  EXPECT_EQ(server.Request(0), FreshRequest("patch/528/x/%E4%B8%AD.dat", host_field));
  EXPECT_EQ(ReadText(Target()), "ab");

  net::FileDownload renamed(net::UrlBelow(site, "a.dat"), Target(), ".tmp");
  renamed.rename_if_exists = true;
  EXPECT_EQ(net::HttpDownload(renamed, total, done), DownloadResult::Ok);
  EXPECT_EQ(server.Request(1), FreshRequest("patch/528/a.dat", host_field));
  EXPECT_EQ(ReadText(Target()), "ab");
  EXPECT_EQ(ReadText(folder_.Path("a(1).dat")), "cd");
}

// ---- resume and counters ------------------------------------------------------

TEST_F(HttpDownloadTest, ResumeCountersIncludeTheExistingPart) {
  const std::string body = PatternBytes(1500);
  ScriptedServer server(Script()
                            .Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 500\r\n"
                                  "Content-Range: bytes 1000-1499/1500\r\n\r\n" +
                                  body.substr(1000, 100))
                            .WaitForSignal()
                            .Send(body.substr(1100)));
  ASSERT_TRUE(server.Ok());
  WriteText(Partial(), body.substr(0, 1000));
  Call call;
  std::thread worker([&] { call.Run(server.Url("a.dat"), Target()); });
  // While the server holds back the rest, the counters show the first chunk.
  for (int i = 0; i < 500 && call.done.load() != 1100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(call.total.load(), 1500);
  EXPECT_EQ(call.done.load(), 1100);
  server.Signal();
  worker.join();
  EXPECT_EQ(call.result, DownloadResult::Ok);
  EXPECT_EQ(ReadText(Target()), body);
  EXPECT_EQ(call.done.load(), 1500);
}

TEST_F(HttpDownloadTest, CountersAreNeverReadBack) {
  // The progress display resets totalBytes while the engine runs; the engine
  // must decide on its own copies.
  const std::string body = PatternBytes(300000);
  const std::string answer = OkResponse(body);
  ScriptedServer server(Script().Send(answer.substr(0, 1000)).Pause(100).Send(answer.substr(1000)));
  ASSERT_TRUE(server.Ok());
  Call call;
  std::atomic<bool> running{true};
  std::thread meddler([&] {
    while (running.load()) {
      call.total.store(0);
      call.done.store(-5);
      std::this_thread::yield();
    }
  });
  call.Run(server.Url("a.dat"), Target());
  running.store(false);
  meddler.join();
  EXPECT_EQ(call.result, DownloadResult::Ok);
  EXPECT_TRUE(ReadText(Target()) == body);
}

// ---- sizes ------------------------------------------------------------------------

TEST_F(HttpDownloadTest, BodyEndsAndSizeTests) {
  const std::string body = PatternBytes(5000);
  struct Case {
    const char* what;
    Script script;
    DownloadResult want;
    std::string file;  // expected target content; "-" for no target
    int32_t total;
    std::string partial = "-";  // what the partial file keeps; "-" for none
  } cases[] = {
      {"no Content-Length with a body never meets 0",
       Script().Send("HTTP/1.1 200 OK\r\n\r\n" + body.substr(0, 10)), DownloadResult::SizeMismatch,
       "-", 0},
      {"Content-Length 0 installs an empty file", Script().Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"),
       DownloadResult::Ok, "", 0},
      {"short transfer", Script().Send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + body.substr(0, 3000)),
       DownloadResult::Interrupted, "-", 5000, body.substr(0, 3000)},
      {"HTTP/1.0 is accepted", Script().Send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + body),
       DownloadResult::Ok, body, 5000},
      {"header names in any case, blanks optional",
       Script().Send("HTTP/1.1 200 OK\r\nserver: t\r\ncontent-LENGTH:5000\r\nX: y\r\n\r\n" + body),
       DownloadResult::Ok, body, 5000},
      {"head over several receives",
       Script()
           .Send("HTT")
           .Pause(50)
           .Send("P/1.1 200 OK\r\nContent-Le")
           .Pause(50)
           .Send("ngth:  5000\r\n\r")
           .Pause(50)
           .Send("\n" + body.substr(0, 10))
           .Pause(50)
           .Send(body.substr(10)),
       DownloadResult::Ok, body, 5000},
      {"chunked body decoded",
       Script()
           .Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000;x=y\r\n" + body.substr(0, 2) )
           .Pause(50)
           .Send(body.substr(2, 4094) + "\r\n3")
           .Pause(50)
           .Send("88\r\n" + body.substr(4096, 904) + "\r\n0\r\n\r\n"),
       DownloadResult::Ok, body, 5000},
      {"chunked body cut short", Script().Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1388\r\n" + body.substr(0, 100)),
       DownloadResult::Interrupted, "-", 0, body.substr(0, 100)},
      {"malformed chunk", Script().Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"),
       DownloadResult::SizeMismatch, "-", 0},
  };
  for (Case& c : cases) {
    ScriptedServer server(c.script);
    ASSERT_TRUE(server.Ok());
    rt::RemoveFile(Target());
    rt::RemoveFile(Partial());
    Call call;
    EXPECT_EQ(call.Run(server.Url("a.dat"), Target()), c.want) << c.what;
    EXPECT_EQ(call.total.load(), c.total) << c.what;
    if (c.file == "-") {
      EXPECT_FALSE(rt::FileExists(Target())) << c.what;
    } else {
      EXPECT_TRUE(ReadText(Target()) == c.file) << c.what;
      EXPECT_EQ(call.done.load(), static_cast<int32_t>(c.file.size())) << c.what;
    }
    if (c.partial == "-") {
      EXPECT_FALSE(rt::FileExists(Partial())) << c.what;
    } else {
      EXPECT_TRUE(ReadText(Partial()) == c.partial) << c.what;
    }
  }
}

TEST_F(HttpDownloadTest, ExtraBytesBeyondTheAnnouncedSizeAreDroppedWithoutWaiting) {
  ScriptedServer server(Script().Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789EXTRA").Pause(50).Send("MORE").HoldOpen());
  ASSERT_TRUE(server.Ok());
  const auto started = std::chrono::steady_clock::now();
  Call call;
  EXPECT_EQ(call.Run(server.Url("a.dat"), Target()), DownloadResult::Ok);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(ReadText(Target()), "0123456789");
  EXPECT_EQ(call.done.load(), 10);
}

TEST_F(HttpDownloadTest, LargeBodyArrivesIntactWhateverTheFlushSize) {
  // Batches that end inside, at and across the socket's read-ahead refills.
  const std::string body = PatternBytes(3 * 1024 * 1024 + 17);
  const std::string answer = OkResponse(body);
  for (int32_t flush_size : {1, 0, 10240, 100000, 1000000, 8 * 1024 * 1024}) {
    ScriptedServer server(Script()
                              .Send(answer.substr(0, 70001))
                              .Pause(20)
                              .Send(answer.substr(70001, 1234567))
                              .Pause(20)
                              .Send(answer.substr(70001 + 1234567)));
    ASSERT_TRUE(server.Ok());
    rt::RemoveFile(Target());
    Call call;
    EXPECT_EQ(call.Run(server.Url("big.dat"), Target(), false, false, "", nullptr, flush_size),
              DownloadResult::Ok)
        << flush_size;
    EXPECT_TRUE(ReadText(Target()) == body) << flush_size;
    rt::Bytes memory;
    ScriptedServer again(Script().Send(answer));
    Call to_memory;
    EXPECT_EQ(to_memory.Run(again.Url("big.dat"), "", false, false, "", &memory, flush_size),
              DownloadResult::Ok);
    EXPECT_TRUE(std::string(memory.begin(), memory.end()) == body) << flush_size;
  }
}

// ---- refusals: nothing written, partial file and target as they were --------------

TEST_F(HttpDownloadTest, RefusedAnswersLeaveFilesAlone) {
  struct Case {
    const char* what;
    std::string answer;
    bool with_partial;
  } const cases[] = {
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno!", true},
      {"416 to a fresh request",
       "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */0\r\nContent-Length: 0\r\n\r\n", false},
      {"no status line", "garbage\r\n\r\n", true},
      {"206 from another offset",
       "HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\nContent-Range: bytes 0-9/1010\r\n\r\n0123456789",
       true},
      {"206 without Content-Range", "HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\n\r\n0123456789", true},
      {"206 that ends before the end of the resource",
       "HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\nContent-Range: bytes 1000-1009/5000\r\n\r\n0123456789",
       true},
      {"206 whose length disagrees with its range",
       "HTTP/1.1 206 Partial Content\r\nContent-Length: 5\r\nContent-Range: bytes 1000-1009/1010\r\n\r\n01234",
       true},
      {"206 of a resource of unknown size",
       "HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\nContent-Range: bytes 1000-1009/*\r\n\r\n0123456789",
       true},
      {"206 to a fresh request, not from 0",
       "HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\nContent-Range: bytes 5-14/15\r\n\r\n0123456789",
       false},
      {"Content-Length above 2^63-1", "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\nxx", false},
      {"negative Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nxx", false},
      {"Content-Length not a number", "HTTP/1.1 200 OK\r\nContent-Length: lots\r\n\r\nxx", false},
      {"resumed total above 2^63-1",
       "HTTP/1.1 206 Partial Content\r\nContent-Length: 9223372036854774808\r\n"
       "Content-Range: bytes 1000-9223372036854775808/9223372036854775809\r\n\r\nxx",
       true},
      {"head larger than the limit", "HTTP/1.1 200 OK\r\nX: " + std::string(70000, 'a'), false},
  };
  for (const Case& c : cases) {
    ScriptedServer server(Script().Send(c.answer).HoldOpen(3000));
    ASSERT_TRUE(server.Ok());
    WriteText(Target(), "old target");
    rt::RemoveFile(Partial());
    if (c.with_partial) WriteText(Partial(), PatternBytes(1000));
    Call call;
    EXPECT_EQ(call.Run(server.Url("a.dat"), Target()), DownloadResult::BadStatus) << c.what;
    EXPECT_EQ(call.total.load(), 0) << c.what;
    EXPECT_EQ(ReadText(Target()), "old target") << c.what;
    if (c.with_partial) {
      EXPECT_EQ(ReadText(Partial()), PatternBytes(1000)) << c.what;
    } else {
      EXPECT_FALSE(rt::FileExists(Partial())) << c.what;
    }
  }
}

TEST_F(HttpDownloadTest, WholeAnswerToARangeRequestRestartsThePartialFile) {
  const std::string body = PatternBytes(3000, 99);
  ScriptedServer server(Script()
                            .Send("HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + body.substr(0, 100))
                            .Pause(50)
                            .Send(body.substr(100)));
  ASSERT_TRUE(server.Ok());
  WriteText(Partial(), std::string(1000, 'G'));
  Call call;
  EXPECT_EQ(call.Run(server.Url("a.dat"), Target()), DownloadResult::Ok);
  EXPECT_NE(server.Request().find("Range: bytes=1000-"), std::string::npos);
  EXPECT_TRUE(ReadText(Target()) == body);
  EXPECT_EQ(call.total.load(), 3000);
  EXPECT_EQ(call.done.load(), 3000);
}

// ---- partial files that cannot be resumed, targets that resist --------------------

TEST_F(HttpDownloadTest, RangeNotSatisfiableInstallsACompletePartialAndRestartsAStaleOne) {
  const std::string body = PatternBytes(5000, 7);
  const std::string refusal = "HTTP/1.1 416 Requested Range Not Satisfiable\r\nContent-Length: 0\r\n";
  struct Case {
    const char* what;
    std::string partial;
    Script answer;
    DownloadResult want;
    std::string target_after;  // empty: the old target stays
    bool partial_stays;
    bool restarted;  // the stale partial file went and the whole file came in the same call
  } const cases[] = {
      {"complete partial, */N equal to its size", body,
       Script().Send(refusal + "Content-Range: bytes */5000\r\n\r\n"), DownloadResult::Ok, body, false, false},
      {"complete partial, status line and head in pieces", body,
       Script().Send("HTTP/1.1 4").Pause(50).Send("16 Range Not Satisfiable\r\nContent-Ra").Pause(50).Send(
           "nge: bytes */5000\r\n\r\n"),
       DownloadResult::Ok, body, false, false},
      {"partial longer than a newer, shorter resource", body + "stale tail",
       Script().Send(refusal + "Content-Range: bytes */5000\r\n\r\n"), DownloadResult::Ok, body, false, true},
      {"partial shorter than the resource the 416 names", body.substr(0, 4000),
       Script().Send(refusal + "Content-Range: bytes */5000\r\n\r\n"), DownloadResult::Ok, body, false, true},
      {"416 without Content-Range", body, Script().Send(refusal + "\r\n"), DownloadResult::Ok, body, false, true},
      {"a 404 to a resume still leaves the partial file", body,
       Script().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"), DownloadResult::BadStatus, "",
       true, false},
  };
  for (const Case& c : cases) {
    ScriptedServer server({Script(c.answer).HoldOpen(3000), Script().Send(OkResponse(body))});
    ASSERT_TRUE(server.Ok());
    WriteText(Target(), "old target");
    WriteText(Partial(), c.partial);
    Call call;
    EXPECT_EQ(call.Run(server.Url("a.dat"), Target()), c.want) << c.what;
    EXPECT_NE(server.Request().find("Range: bytes=" + std::to_string(c.partial.size()) + "-"),
              std::string::npos)
        << c.what;
    EXPECT_EQ(ReadText(Target()), c.target_after.empty() ? "old target" : c.target_after) << c.what;
    EXPECT_EQ(rt::FileExists(Partial()), c.partial_stays) << c.what;
    EXPECT_EQ(server.Requests(), c.restarted ? 2u : 1u) << c.what;
    if (c.restarted) {
      EXPECT_EQ(server.Request(1).find("Range:"), std::string::npos) << c.what;
    }
    if (c.want == DownloadResult::Ok) {
      EXPECT_EQ(call.total.load(), 5000) << c.what;
      EXPECT_EQ(call.done.load(), 5000) << c.what;
    }
  }
}

TEST_F(HttpDownloadTest, TargetHeldOpenKeepsTheCompletePartialForTheNextCall) {
  const std::string body = PatternBytes(3000, 3);
  ScriptedServer server({Script().Send(OkResponse(body)),
                         Script().Send("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */3000\r\n"
                                       "Content-Length: 0\r\n\r\n")});
  ASSERT_TRUE(server.Ok());
  WriteText(Target(), "old target");
  {
    // Another program (the running game) holds the target without sharing.
    rt::OpenedFile holder(rt::OpenFile(Target(), rt::kModeRead, rt::kShareExclusive));
    ASSERT_TRUE(holder);
    Call first;
    EXPECT_EQ(first.Run(server.Url("a.dat"), Target()), DownloadResult::InstallFailed);
    EXPECT_EQ(ReadText(Partial()), body);
  }
  EXPECT_EQ(ReadText(Target()), "old target");
  Call second;
  EXPECT_EQ(second.Run(server.Url("a.dat"), Target()), DownloadResult::Ok);
  EXPECT_NE(server.Request(1).find("Range: bytes=3000-"), std::string::npos);
  EXPECT_EQ(ReadText(Target()), body);
  EXPECT_FALSE(rt::FileExists(Partial()));
  EXPECT_EQ(second.total.load(), 3000);
}

TEST_F(HttpDownloadTest, ReadOnlyTargetIsReplaced) {
  const std::string body = PatternBytes(2000, 5);
  ScriptedServer server(Script().Send(OkResponse(body)));
  ASSERT_TRUE(server.Ok());
  WriteText(Target(), "old target from a disc");
  ASSERT_TRUE(rt::SetFileAttributes(Target(), rt::kAttrReadOnly));
  Call call;
  EXPECT_EQ(call.Run(server.Url("a.dat"), Target()), DownloadResult::Ok);
  EXPECT_EQ(ReadText(Target()), body);
  EXPECT_FALSE(rt::FileExists(Partial()));
}

// ---- nothing arrives ------------------------------------------------------------------

TEST_F(HttpDownloadTest, NothingReceivedNeverInstallsAndKeepsThePartialFile) {
  struct Case {
    const char* what;
    std::string partial;
    std::string answer;
  } const cases[] = {
      {"closed at once, non-empty partial", PatternBytes(1000), ""},
      {"closed at once, empty partial", "", ""},
      {"closed inside the head, empty partial", "", "HTTP/1.1 200 OK\r\nContent-Le"},
  };
  for (const Case& c : cases) {
    Script script;
    if (!c.answer.empty()) script.Send(c.answer);
    ScriptedServer server(script);
    ASSERT_TRUE(server.Ok());
    WriteText(Target(), "old target");
    WriteText(Partial(), c.partial);
    Call call;
    EXPECT_EQ(call.Run(server.Url("a.dat"), Target()), DownloadResult::Interrupted) << c.what;
    EXPECT_EQ(ReadText(Target()), "old target") << c.what;
    EXPECT_TRUE(ReadText(Partial()) == c.partial) << c.what;
    EXPECT_EQ(call.total.load(), 0) << c.what;
  }
}

TEST_F(HttpDownloadTest, FirstReceiveTimingOutKeepsThePartialFile) {
  constexpr int32_t kWaitMs = 300;
  ScriptedServer server(Script().HoldOpen(kWaitMs + 5000));
  ASSERT_TRUE(server.Ok());
  WriteText(Partial(), PatternBytes(1000));
  const auto started = std::chrono::steady_clock::now();
  Call call;
  net::FileDownload options(server.Url("a.dat"), Target(), ".tmp");
  options.limits.receive_wait_ms = kWaitMs;
  EXPECT_EQ(call.Run(options), DownloadResult::Interrupted);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kWaitMs - 50));
  EXPECT_EQ(call.report.reason, net::FailReason::kNoAnswer);
  EXPECT_EQ(net::Describe(call.report), "no answer in 0.3 s");
  EXPECT_TRUE(ReadText(Partial()) == PatternBytes(1000));
  EXPECT_FALSE(rt::FileExists(Target()));
}

// ---- cut-off transfers resume where they stopped ----------------------------------------

TEST_F(HttpDownloadTest, CutTransfersResumeFromTheirExactOffsets) {
  const std::string body = PatternBytes(50000, 7);
  const std::string length = std::to_string(body.size());
  auto partial_answer = [&](size_t from, size_t to) {
    return "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(body.size() - from) +
           "\r\nContent-Range: bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/" +
           length + "\r\n\r\n" + body.substr(from, to - from);
  };
  ScriptedServer server({Script().Send("HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n\r\n" +
                                       body.substr(0, 12345)),
                         Script().Send(partial_answer(12345, 30001)),
                         Script().Send(partial_answer(30001, body.size()))});
  ASSERT_TRUE(server.Ok());
  WriteText(Target(), "old target");
  Call first, second, third;
  EXPECT_EQ(first.Run(server.Url("a.dat"), Target()), DownloadResult::Interrupted);
  EXPECT_EQ(ReadText(Target()), "old target");  // untouched until the file is whole
  EXPECT_EQ(second.Run(server.Url("a.dat"), Target()), DownloadResult::Interrupted);
  EXPECT_EQ(second.done.load(), 30001);
  EXPECT_EQ(third.Run(server.Url("a.dat"), Target()), DownloadResult::Ok);
  EXPECT_EQ(server.Request(0).find("Range:"), std::string::npos);
  EXPECT_NE(server.Request(1).find("Range: bytes=12345-\r\n"), std::string::npos);
  EXPECT_NE(server.Request(2).find("Range: bytes=30001-\r\n"), std::string::npos);
  EXPECT_TRUE(ReadText(Target()) == body);
  EXPECT_FALSE(rt::FileExists(Partial()));
}

TEST_F(HttpDownloadTest, ServerErrorsAreToldApartFromRefusals) {
  struct Case {
    std::string status_line;
    DownloadResult want;
  } const cases[] = {
      {"HTTP/1.1 500 Internal Server Error", DownloadResult::ServerError},
      {"HTTP/1.1 503 Service Unavailable", DownloadResult::ServerError},
      {"HTTP/1.0 599 Whatever", DownloadResult::ServerError},
      {"HTTP/1.1 404 Not Found", DownloadResult::BadStatus},
      {"HTTP/1.1 403 Forbidden", DownloadResult::BadStatus},
      {"HTTP/1.1 302 Found", DownloadResult::BadStatus},
      {"HTTP/2.0 503 Service Unavailable", DownloadResult::BadStatus},
  };
  for (const Case& c : cases) {
    ScriptedServer server(Script().Send(c.status_line + "\r\nContent-Length: 4\r\n\r\nbusy").HoldOpen(3000));
    ASSERT_TRUE(server.Ok());
    WriteText(Partial(), PatternBytes(1000));
    Call call;
    EXPECT_EQ(call.Run(server.Url("a.dat"), Target()), c.want) << c.status_line;
    EXPECT_TRUE(ReadText(Partial()) == PatternBytes(1000)) << c.status_line;
    EXPECT_FALSE(rt::FileExists(Target())) << c.status_line;
  }
}

TEST_F(HttpDownloadTest, APartialFileThatCannotBeWrittenIsAWriteFailure) {
  ScriptedServer server(Script().Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\n"
                                      "Content-Range: bytes 4-13/14\r\n\r\n0123456789"));
  ASSERT_TRUE(server.Ok());
  WriteText(Partial(), "abcd");
  // The partial file is held open without sharing, as another program would.
  rt::OpenedFile holder(rt::OpenFile(Partial(), rt::kModeRead, rt::kShareExclusive));
  ASSERT_TRUE(holder);
  Call call;
  EXPECT_EQ(call.Run(server.Url("a.dat"), Target()), DownloadResult::WriteFailed);
  EXPECT_FALSE(rt::FileExists(Target()));
}

// ---- connection failures ----------------------------------------------------------------

TEST_F(HttpDownloadTest, ConnectFailuresLeaveThePartialFile) {
  uint16_t closed_port = 0;
  {
    net::TcpSocket probe;
    rt::Text host;
    ASSERT_TRUE(probe.Create() && probe.Bind(0, "127.0.0.1") && probe.LocalAddress(host, closed_port));
  }
  const std::string urls[] = {
      "http://127.0.0.1:" + std::to_string(closed_port) + "/a.dat",
      "http://no-such-host.invalid/a.dat",
      "a.dat",
  };
  for (const std::string& url : urls) {
    WriteText(Partial(), "partial");
    Call call;
    EXPECT_EQ(call.Run(url, Target()), DownloadResult::ConnectFailed) << url;
    EXPECT_EQ(ReadText(Partial()), "partial") << url;
    EXPECT_FALSE(rt::FileExists(Target())) << url;
  }
}

// ---- options -------------------------------------------------------------------------------

TEST_F(HttpDownloadTest, HeadersOnlyReadsTheSizeAndTouchesNoFile) {
  ScriptedServer server({Script().Send(OkResponse(PatternBytes(4000))),
                         Script().Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 3000\r\n"
                                       "Content-Range: bytes 1000-3999/4000\r\n\r\n" + PatternBytes(100))});
  ASSERT_TRUE(server.Ok());
  Call fresh;
  EXPECT_EQ(fresh.Run(server.Url("a.dat"), Target(), false, true), DownloadResult::Ok);
  EXPECT_EQ(fresh.total.load(), 4000);
  EXPECT_FALSE(rt::FileExists(Partial()));
  EXPECT_FALSE(rt::FileExists(Target()));

  WriteText(Partial(), PatternBytes(1000));
  Call resume;
  EXPECT_EQ(resume.Run(server.Url("a.dat"), Target(), false, true), DownloadResult::Ok);
  EXPECT_EQ(resume.total.load(), 4000);
  EXPECT_NE(server.Request(1).find("Range: bytes=1000-"), std::string::npos);
  EXPECT_EQ(ReadText(Partial()), PatternBytes(1000));
  EXPECT_FALSE(rt::FileExists(Target()));
}

TEST_F(HttpDownloadTest, RenameIfExistsPicksTheNextFreeNumber) {
  ScriptedServer server({Script().Send(OkResponse("first")), Script().Send(OkResponse("second"))});
  ASSERT_TRUE(server.Ok());
  WriteText(Target(), "old");
  Call one;
  EXPECT_EQ(one.Run(server.Url("a.dat"), Target(), true), DownloadResult::Ok);
  Call two;
  EXPECT_EQ(two.Run(server.Url("a.dat"), Target(), true), DownloadResult::Ok);
  EXPECT_EQ(ReadText(Target()), "old");
  EXPECT_EQ(ReadText(folder_.Path("a(1).dat")), "first");
  EXPECT_EQ(ReadText(folder_.Path("a(2).dat")), "second");
}

TEST_F(HttpDownloadTest, MemoryTarget) {
  const std::string body = PatternBytes(20000);
  ScriptedServer server({Script().Send(OkResponse(body)),
                         Script().Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n")});
  ASSERT_TRUE(server.Ok());
  rt::Bytes received{'s', 't', 'a', 'l', 'e'};
  Call call;
  EXPECT_EQ(call.Run(server.Url("m.dat"), "", false, false, "", &received), DownloadResult::Ok);
  EXPECT_EQ(std::string(received.begin(), received.end()), body);
  EXPECT_EQ(call.total.load(), 20000);
  // The memory target never resumes: the fresh form goes out.
  EXPECT_EQ(server.Request(0).find("Range:"), std::string::npos);
  Call chunked;
  EXPECT_EQ(chunked.Run(server.Url("m.dat"), "", false, false, "", &received), DownloadResult::Ok);
  EXPECT_EQ(std::string(received.begin(), received.end()), "abc");
  EXPECT_EQ(chunked.total.load(), 3);
}

}  // namespace

// A span of a resource fetched again into its place in a file: only a 206
// for exactly that span is taken, and nothing outside it is ever written.
TEST_F(HttpDownloadTest, ASpanIsTakenOnlyFromA206ForThatSpan) {
  const std::string whole = PatternBytes(100, 21);
  const std::string span = whole.substr(10, 10);
  const std::string damaged = whole.substr(0, 10) + std::string(10, '#') + whole.substr(20);
  struct Case {
    const char* what;
    std::string answer;
    bool ok;
  } const cases[] = {
      {"the span", "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/100\r\nContent-Length: 10\r\n\r\n" + span,
       true},
      {"the span and bytes after it", "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/100\r\n\r\n" + span +
       whole.substr(20), true},
      {"the rest of the resource", "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-99/100\r\n\r\n" +
       whole.substr(10), false},
      {"another whole size", "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/200\r\n\r\n" + span, false},
      {"the whole resource", OkResponse(whole), false},
      {"a 416", "HTTP/1.1 416 No\r\nContent-Range: bytes */100\r\n\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedServer server(Script().Send(c.answer).HoldOpen(3000));
    ASSERT_TRUE(server.Ok());
    WriteText(Partial(), damaged);
    net::DownloadOptions options(server.Url("a.dat"));
    options.expected_size = 100;
    options.range_last = 19;
    net::SpanFile sink(Partial(), 10, 10);
    std::atomic<int64_t> total{0}, done{0};
    const net::DownloadReport report = net::HttpGet(options, sink, total, done);
    EXPECT_EQ(report.ok(), c.ok);
    EXPECT_NE(server.Request().find("\r\nRange: bytes=10-19\r\n"), std::string::npos);
    EXPECT_EQ(ReadText(Partial()), c.ok ? whole : damaged);
  }
}

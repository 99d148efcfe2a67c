// Connections kept across downloads: several requests on one connection, and
// every way a server ends one costing nothing but a new connection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/http_connection.h"
#include "net/file_download.h"
#include "tests/net/sockets.h"
#include "tests/net/temp_folder.h"
#include "tests/servers/scripted_server.h"

namespace {

using net::DownloadResult;
using nettest::ReadText;
using nettest::WriteText;
using testsrv::OkResponse;
using testsrv::PatternBytes;
using testsrv::Script;
using testsrv::ScriptedServer;

std::string FreshRequest(const std::string& path, uint16_t port) {
  return "GET /" + path + " HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nHost: 127.0.0.1:" +
         std::to_string(port) + "\r\nConnection: Keep-Alive\r\n\r\n\r\n";
}

// The engine keeps a connection by leaving its socket open after a call.
bool Kept(net::HttpConnection& connection) { return connection.Socket().Handle() != net::kNoSocket; }

class KeptConnectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { nettest::StartSockets(); }

  // One download of `name` into the scratch folder over `connection`.
  net::DownloadReport Fetch(ScriptedServer& server, const std::string& name, net::HttpConnection* connection) {
    net::FileDownload options(server.Url(name), folder_.Path(name), ".tmp");
    options.connection = connection;
    options.limits.receive_wait_ms = kWaitMs;
    return net::HttpDownloadReport(options, total_, done_);
  }

  static constexpr int32_t kWaitMs = 2000;
  nettest::TempFolder folder_;
  std::atomic<int64_t> total_{0};
  std::atomic<int64_t> done_{0};
};

TEST_F(KeptConnectionTest, SeveralRequestsGoOverOneConnection) {
  const std::string a = PatternBytes(3000, 1), b = PatternBytes(70000, 2), c = "";
  ScriptedServer server(Script()
                            .Send(OkResponse(a))
                            .ReadRequest()
                            .Send(OkResponse(b))
                            .ReadRequest()
                            .Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
                            .ReadRequest()
                            .Send(OkResponse("last"))
                            .HoldOpen(5000));
  ASSERT_TRUE(server.Ok());
  net::HttpConnection connection(7);
  const char* const names[] = {"a.dat", "b.dat", "c.dat", "d.dat"};
  for (int i = 0; i < 4; ++i) {
    const net::DownloadReport report = Fetch(server, names[i], &connection);
    EXPECT_EQ(report.result, DownloadResult::Ok) << names[i];
    EXPECT_EQ(report.connection_id, 7) << names[i];
    EXPECT_EQ(report.reused, i > 0) << names[i];
    EXPECT_TRUE(Kept(connection)) << names[i];
    // The fresh request keeps its bytes on a kept connection too.
    EXPECT_EQ(server.Request(static_cast<size_t>(i)), FreshRequest(names[i], server.Port())) << names[i];
  }
  EXPECT_EQ(server.Connections(), 1u);
  EXPECT_TRUE(ReadText(folder_.Path("a.dat")) == a);
  EXPECT_TRUE(ReadText(folder_.Path("b.dat")) == b);
  EXPECT_EQ(ReadText(folder_.Path("c.dat")), c);
  EXPECT_EQ(ReadText(folder_.Path("d.dat")), "last");
}

// Each first answer is complete and correct; what the server does with the
// connection after it decides only whether the second file needs a new one.
TEST_F(KeptConnectionTest, AServerThatEndsTheConnectionCostsOnlyANewOne) {
  const std::string first = PatternBytes(2000, 3), second = PatternBytes(5000, 4);
  const std::string chunked_first = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7D0\r\n" + first + "\r\n0\r\n";
  struct Case {
    const char* what;
    Script first_connection;
    bool second_reuses;       // the second file went over the first connection
    size_t connections;       // connections taken by the two files
  } const cases[] = {
      {"HTTP/1.1, kept", Script().Send(OkResponse(first)).ReadRequest().Send(OkResponse(second)).HoldOpen(5000),
       true, 1},
      {"chunked with a trailer, kept",
       Script().Send(chunked_first + "X-Sum: 1\r\n\r\n").ReadRequest().Send(OkResponse(second)).HoldOpen(5000), true,
       1},
      {"HTTP/1.0 saying keep-alive, kept",
       Script()
           .Send("HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 2000\r\n\r\n" + first)
           .ReadRequest()
           .Send(OkResponse(second))
           .HoldOpen(5000),
       true, 1},
      {"\"Connection: close\"", Script().Send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2000\r\n\r\n" + first).HoldOpen(5000),
       false, 2},
      {"HTTP/1.0", Script().Send("HTTP/1.0 200 OK\r\nContent-Length: 2000\r\n\r\n" + first).HoldOpen(5000), false, 2},
      {"closed after the first response", Script().Send(OkResponse(first)), false, 2},
      {"closed between responses, the request unanswered", Script().Send(OkResponse(first)).ReadRequest(), false, 2},
      {"bytes after the response's end",
       Script().Send(OkResponse(first) + "JUNK").ReadRequest().Send(OkResponse(second)).HoldOpen(5000), false, 2},
      {"bytes after the response's end, a moment later",
       Script().Send(OkResponse(first)).Pause(300).Send("JUNK").ReadRequest().Send(OkResponse(second)).HoldOpen(5000),
       false, 2},
      {"a garbled answer on the kept connection",
       Script().Send(OkResponse(first)).ReadRequest().Send("JUNK" + OkResponse(second)).HoldOpen(5000), false, 2},
  };
  for (const Case& c : cases) {
    ScriptedServer server({c.first_connection, Script().Send(OkResponse(second)).HoldOpen(5000)});
    ASSERT_TRUE(server.Ok());
    net::HttpConnection connection(1);
    EXPECT_EQ(Fetch(server, "one.dat", &connection).result, DownloadResult::Ok) << c.what;
    if (std::string(c.what).find("a moment later") != std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }
    const net::DownloadReport report = Fetch(server, "two.dat", &connection);
    EXPECT_EQ(report.result, DownloadResult::Ok) << c.what;
    EXPECT_EQ(report.reused, c.second_reuses) << c.what;
    EXPECT_TRUE(ReadText(folder_.Path("one.dat")) == first) << c.what;
    EXPECT_TRUE(ReadText(folder_.Path("two.dat")) == second) << c.what;
    const size_t last = server.Requests() - 1;
    EXPECT_EQ(server.ConnectionOf(last), c.connections - 1) << c.what;
    EXPECT_EQ(server.Request(last), FreshRequest("two.dat", server.Port())) << c.what;
    connection.Close();
  }
}

TEST_F(KeptConnectionTest, ACutInTheSecondResponseKeepsWhatArrivedForAResumeOnItsOwnConnection) {
  const std::string first = PatternBytes(1000, 5), second = PatternBytes(9000, 6);
  const std::string answer = OkResponse(second);
  const size_t cut = 4000 - (answer.size() - second.size());  // body bytes before the cut
  const std::string rest = std::to_string(cut) + "-8999/9000";
  ScriptedServer server({Script().Send(OkResponse(first)).ReadRequest().Send(answer.substr(0, 4000)),
                         Script()
                             .Send("HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(9000 - cut) +
                                   "\r\nContent-Range: bytes " + rest + "\r\n\r\n" + second.substr(cut))
                             .HoldOpen(5000)});
  ASSERT_TRUE(server.Ok());
  net::HttpConnection connection(2);
  EXPECT_EQ(Fetch(server, "one.dat", &connection).result, DownloadResult::Ok);
  const net::DownloadReport cut_short = Fetch(server, "two.dat", &connection);
  EXPECT_EQ(cut_short.result, DownloadResult::Interrupted);
  EXPECT_TRUE(cut_short.reused);
  EXPECT_EQ(cut_short.reason, net::FailReason::kClosed);
  EXPECT_EQ(net::Describe(cut_short), "closed after " + std::to_string(cut) + " bytes");
  EXPECT_FALSE(Kept(connection));
  EXPECT_TRUE(ReadText(folder_.Path("two.dat.tmp")) == second.substr(0, cut));

  // The resume goes out in its own form, "Connection: close" included, on a
  // connection of its own, which is not kept after it.
  const net::DownloadReport resumed = Fetch(server, "two.dat", &connection);
  EXPECT_EQ(resumed.result, DownloadResult::Ok);
  EXPECT_FALSE(resumed.reused);
  EXPECT_TRUE(resumed.resumed);
  EXPECT_EQ(resumed.resumed_from, static_cast<int64_t>(cut));
  EXPECT_EQ(server.ConnectionOf(2), 1u);
  const std::string request = server.Request(2);
  EXPECT_NE(request.find("\r\nRange: bytes=" + std::to_string(cut) + "-\r\n"), std::string::npos);
  EXPECT_EQ(request.substr(request.size() - 21), "Connection: close\r\n\r\n");
  EXPECT_FALSE(Kept(connection));
  EXPECT_TRUE(ReadText(folder_.Path("two.dat")) == second);
}

TEST_F(KeptConnectionTest, AKeptConnectionServesOnlyItsOwnHostAndPort) {
  ScriptedServer one(Script().Send(OkResponse("from one")).ReadRequest().Send(OkResponse("again")).HoldOpen(5000));
  ScriptedServer two(Script().Send(OkResponse("from two")).HoldOpen(5000));
  ASSERT_TRUE(one.Ok() && two.Ok());
  net::HttpConnection connection(3);
  EXPECT_EQ(Fetch(one, "a.dat", &connection).result, DownloadResult::Ok);
  const net::DownloadReport other = Fetch(two, "b.dat", &connection);
  EXPECT_EQ(other.result, DownloadResult::Ok);
  EXPECT_FALSE(other.reused);
  EXPECT_EQ(ReadText(folder_.Path("b.dat")), "from two");
  EXPECT_EQ(two.Connections(), 1u);
}

// Without a connection object nothing is kept: each call connects for
// itself and closes after it, whatever the server allows.
TEST_F(KeptConnectionTest, WithoutAConnectionObjectEveryCallHasItsOwn) {
  ScriptedServer server({Script().Send(OkResponse("1")).ReadRequest().HoldOpen(3000),
                         Script().Send(OkResponse("2")).HoldOpen(3000)});
  ASSERT_TRUE(server.Ok());
  EXPECT_EQ(Fetch(server, "a.dat", nullptr).result, DownloadResult::Ok);
  const net::DownloadReport second = Fetch(server, "b.dat", nullptr);
  EXPECT_EQ(second.result, DownloadResult::Ok);
  EXPECT_EQ(second.connection_id, 0);
  EXPECT_EQ(server.ConnectionOf(1), 1u);
}

// Transfers on several threads, each with its own connection, share nothing.
TEST_F(KeptConnectionTest, TransfersOnSeveralThreadsEachOverTheirOwnConnection) {
  constexpr int kThreads = 4;
  constexpr int kFilesEach = 3;
  std::vector<std::string> bodies;
  for (int t = 0; t < kThreads; ++t) bodies.push_back(PatternBytes(300000 + 1000 * t, t));
  std::vector<std::unique_ptr<ScriptedServer>> servers;
  for (int t = 0; t < kThreads; ++t) {
    Script script;
    for (int f = 0; f < kFilesEach; ++f) {
      if (f > 0) script.ReadRequest();
      script.Send(OkResponse(bodies[t]));
    }
    servers.push_back(std::make_unique<ScriptedServer>(script.HoldOpen(5000)));
    ASSERT_TRUE(servers.back()->Ok());
  }
  std::vector<std::thread> threads;
  std::atomic<int> ok{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      net::HttpConnection connection(t + 1);
      std::atomic<int64_t> total{0}, done{0};
      for (int f = 0; f < kFilesEach; ++f) {
        const std::string name = "t" + std::to_string(t) + "f" + std::to_string(f) + ".dat";
        net::FileDownload options(servers[static_cast<size_t>(t)]->Url(name), folder_.Path(name), ".tmp");
        options.connection = &connection;
        if (net::HttpDownload(options, total, done) == DownloadResult::Ok &&
            ReadText(folder_.Path(name)) == bodies[static_cast<size_t>(t)]) {
          ++ok;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(ok.load(), kThreads * kFilesEach);
  for (auto& server : servers) EXPECT_EQ(server->Connections(), 1u);
}

}  // namespace

// Requests sent ahead on a kept connection (pipelining), driven as a
// transfer of the run drives them: every file whole and every request's
// bytes as without, whatever the server does with requests that arrive
// together.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/file_download.h"
#include "net/http_connection.h"
#include "net/http_download.h"
#include "tests/net/sockets.h"
#include "tests/servers/scripted_server.h"

namespace {

using testsrv::OkResponse;
using testsrv::PatternBytes;

constexpr size_t kFiles = 12;
constexpr size_t kMostAhead = 4;
constexpr size_t kMostConnections = 30;
constexpr int32_t kWaitSeconds = 2;

// How the server answers the requests of one connection.
enum class Manner {
  kInOrder,        // each in turn, the connection kept
  kReversed,       // the requests that arrived together, last first
  kCloseAfterTwo,  // two answers, then the connection ends without a word
  kCloseAfterSix,  // the same after six (a server's limit per connection)
  kCloseEach,      // "Connection: close" and the end after every answer
};

std::string Name(size_t i) { return "f" + std::to_string(i) + ".bin"; }
// Sizes differ, so that an answer given to another file's request shows.
std::string Content(size_t i) { return PatternBytes(1000 + 37 * i, i); }

class PipeServer {
 public:
  explicit PipeServer(Manner manner) : manner_(manner) {
    rt::Text host;
    ok_ = listener_.Create() && listener_.Bind(0, "127.0.0.1") && listener_.Listen() &&
          listener_.LocalAddress(host, port_);
    if (ok_) acceptor_ = std::thread([this] { Accept(); });
  }
  ~PipeServer() {
    stopping_.store(true);
    if (acceptor_.joinable()) {
      net::TcpSocket wake;  // ends a wait in Accept
      if (wake.Create() && wake.Connect("127.0.0.1", port_)) wake.Close();
      acceptor_.join();
    }
    for (std::thread& t : serving_) t.join();
  }
  bool Ok() const { return ok_; }
  uint16_t Port() const { return port_; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
  }
  size_t Connections() const { return serving_.size(); }

 private:
  void Accept() {
    // Bounded: at most kMostConnections, and the destructor's own one ends it.
    while (serving_.size() < kMostConnections) {
      auto client = std::make_shared<net::TcpSocket>();
      if (!listener_.Accept(*client) || stopping_.load()) return;
      serving_.emplace_back([this, client] { Serve(*client); });
    }
  }
  void Serve(net::TcpSocket& client) {
    std::string buffer;
    rt::Bytes chunk;
    size_t answered = 0;
    // Bounded: every receive waits at most kWaitSeconds, and the client
    // closes its connection when its test ends.
    while (client.Receive(chunk, kWaitSeconds)) {
      if (manner_ == Manner::kReversed) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      buffer.append(chunk.begin(), chunk.end());
      while (client.Receive(chunk, 0)) buffer.append(chunk.begin(), chunk.end());
      std::vector<std::string> paths;
      for (size_t end = buffer.find("\r\n\r\n\r\n"); end != std::string::npos; end = buffer.find("\r\n\r\n\r\n")) {
        const std::string request = buffer.substr(0, end + 6);
        buffer.erase(0, end + 6);
        {
          std::lock_guard<std::mutex> hold(mutex_);
          requests_.push_back(request);
        }
        const size_t name = request.find("/f");
        paths.push_back(request.substr(name + 1, request.find(' ', name) - name - 1));
      }
      if (manner_ == Manner::kReversed) std::reverse(paths.begin(), paths.end());
      for (const std::string& path : paths) {
        const size_t i = std::stoul(path.substr(1));
        const std::string body = Content(i);
        const std::string answer =
            manner_ == Manner::kCloseEach
                ? "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\n\r\n" + body
                : OkResponse(body);
        if (!client.Send(reinterpret_cast<const std::uint8_t*>(answer.data()), static_cast<int32_t>(answer.size())))
          return;
        ++answered;
        if (manner_ == Manner::kCloseEach || (manner_ == Manner::kCloseAfterTwo && answered == 2) ||
            (manner_ == Manner::kCloseAfterSix && answered == 6)) {
          client.Close();
          return;
        }
      }
    }
  }

  const Manner manner_;
  net::TcpSocket listener_;
  uint16_t port_ = 0;
  bool ok_ = false;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> serving_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

TEST(SentAhead, EveryFileWholeWhateverTheServerDoesWithRequestsSentAhead) {
  nettest::StartSockets();
  struct Case {
    const char* what;
    Manner manner;
    bool via_proxy;
    bool answers_ahead;  // some answer was read for a request sent ahead
    bool trouble;        // the connection said to send no more ahead
  } const cases[] = {
      {"in order, kept", Manner::kInOrder, false, true, false},
      {"answers out of order: none taken", Manner::kReversed, false, false, true},
      {"closes after two", Manner::kCloseAfterTwo, false, true, true},
      {"closes after six: its limit, no trouble", Manner::kCloseAfterSix, false, true, false},
      {"keeps no connection", Manner::kCloseEach, false, false, false},
      {"behind the player's proxy", Manner::kInOrder, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PipeServer server(c.manner);
    ASSERT_TRUE(server.Ok());
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    std::vector<rt::Bytes> bodies(kFiles);
    const auto options = [&](size_t i) {
      net::FileDownload d("http://" + host + "/" + Name(i), "", ".tmp");
      d.body = &bodies[i];
      if (c.via_proxy) d.proxy = net::ProxyUse::Given(net::ProxyRoute{"127.0.0.1", server.Port()});
      d.limits.receive_wait_ms = kWaitSeconds * 1000;
      d.expected_size = static_cast<int64_t>(Content(i).size());
      return d;
    };
    net::HttpConnection connection(1);
    std::atomic<int64_t> total{0}, done{0};
    bool answers_ahead = false, trouble = false;
    for (size_t i = 0; i < kFiles; ++i) {
      net::FileDownload d = options(i);
      d.connection = &connection;
      const net::DownloadReport report = net::HttpDownloadReport(d, total, done);
      EXPECT_TRUE(report.ok()) << Name(i) << ": " << net::Describe(report);
      EXPECT_EQ(std::string(bodies[i].begin(), bodies[i].end()), Content(i)) << Name(i);
      answers_ahead = answers_ahead || report.sent_ahead;
      trouble = trouble || !connection.TakeTrouble().empty();
      // Requests waiting on the connection are those of the files after this one.
      for (size_t next = i + 1 + connection.Ahead(); !trouble && next < kFiles && connection.Ahead() < kMostAhead;
           ++next) {
        net::FileDownload ahead = options(next);
        ahead.connection = &connection;
        if (!net::SendAhead(ahead)) break;
      }
    }
    connection.Close();
    EXPECT_EQ(answers_ahead, c.answers_ahead);
    EXPECT_EQ(trouble, c.trouble);
    // Every request the server read, sent ahead or not, has today's bytes.
    for (const std::string& request : server.Requests()) {
      const size_t name = request.find("/f");
      ASSERT_NE(name, std::string::npos) << request;
      const std::string path = request.substr(name + 1, request.find(' ', name) - name - 1);
      EXPECT_EQ(request, "GET " + (c.via_proxy ? "http://" + host : std::string()) + "/" + path +
                             " HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nHost: " + host +
                             "\r\nConnection: Keep-Alive\r\n\r\n\r\n");
    }
    EXPECT_GE(server.Requests().size(), kFiles);
  }
}

}  // namespace

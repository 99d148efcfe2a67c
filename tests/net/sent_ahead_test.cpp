// Requests sent ahead on a kept connection (pipelining), driven as a run's
// transfer drives them: every file whole, every request's bytes as without.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "net/file_download.h"
#include "net/http_download.h"
#include "tests/net/sockets.h"
#include "tests/servers/scripted_server.h"

namespace {

constexpr size_t kFiles = 12;
constexpr size_t kMostAhead = 4;
constexpr size_t kMostConnections = 30;
constexpr int32_t kWaitSeconds = 2;

// How the server answers the requests of one connection.
enum class Manner { kInOrder, kReversed, kCloseAfterTwo, kCloseAfterSix, kCloseEach };

std::string Name(size_t i) { return "f" + std::to_string(i) + ".bin"; }
// Sizes differ, so that an answer to another file's request shows.
std::string Content(size_t i) { return testsrv::PatternBytes(1000 + 37 * i, i); }
std::string PathOf(const std::string& request) {
  const size_t name = request.find("/f");
  return request.substr(name + 1, request.find(' ', name) - name - 1);
}

class PipeServer {
 public:
  explicit PipeServer(Manner manner) : manner_(manner) {
    rt::Text host;
    ok_ = listener_.Create() && listener_.Bind(0, "127.0.0.1") && listener_.Listen() &&
          listener_.LocalAddress(host, port_);
    // Bounded: at most kMostConnections, and the destructor's own one ends it.
    if (ok_) acceptor_ = std::thread([this] {
      while (serving_.size() < kMostConnections) {
        auto client = std::make_shared<net::TcpSocket>();
        if (!listener_.Accept(*client) || stopping_.load()) return;
        serving_.emplace_back([this, client] { Serve(*client); });
      }
    });
  }
  ~PipeServer() {
    stopping_.store(true);
    net::TcpSocket wake;
    if (acceptor_.joinable() && wake.Create() && wake.Connect("127.0.0.1", port_)) wake.Close();
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& t : serving_) t.join();
  }
  bool Ok() const { return ok_; }
  uint16_t Port() const { return port_; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
  }

 private:
  void Serve(net::TcpSocket& client) {
    std::string buffer;
    rt::Bytes chunk;
    size_t answered = 0;
    // Bounded: every receive waits at most kWaitSeconds.
    while (client.Receive(chunk, kWaitSeconds)) {
      if (manner_ == Manner::kReversed) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      buffer.append(chunk.begin(), chunk.end());
      while (client.Receive(chunk, 0)) buffer.append(chunk.begin(), chunk.end());
      std::vector<std::string> paths;
      for (size_t end = buffer.find("\r\n\r\n\r\n"); end != std::string::npos; end = buffer.find("\r\n\r\n\r\n")) {
        std::lock_guard<std::mutex> hold(mutex_);
        requests_.push_back(buffer.substr(0, end + 6));
        paths.push_back(PathOf(requests_.back()));
        buffer.erase(0, end + 6);
      }
      if (manner_ == Manner::kReversed) std::reverse(paths.begin(), paths.end());
      for (const std::string& path : paths) {
        std::string answer = testsrv::OkResponse(Content(std::stoul(path.substr(1))));
        if (manner_ == Manner::kCloseEach) answer.insert(17, "Connection: close\r\n");
        if (!client.Send(reinterpret_cast<const std::uint8_t*>(answer.data()), static_cast<int32_t>(answer.size())))
          return;
        ++answered;
        if (manner_ == Manner::kCloseEach || (manner_ == Manner::kCloseAfterTwo && answered == 2) ||
            (manner_ == Manner::kCloseAfterSix && answered == 6)) {
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
    bool trouble;        // an answer was not its request's: send no more ahead
    // Closes with requests sent ahead unanswered came after fewer than 3
    // answers each (the run's rule gives up below that).
    bool few_answers_per_close;
  } const cases[] = {
      {"in order, kept", Manner::kInOrder, false, true, false, false},
      {"answers out of order: none taken", Manner::kReversed, false, false, true, false},
      {"closes after two", Manner::kCloseAfterTwo, false, true, false, true},
      {"closes after six: its limit", Manner::kCloseAfterSix, false, true, false, false},
      {"keeps no connection", Manner::kCloseEach, false, false, false, false},
      {"behind the player's proxy", Manner::kInOrder, true, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PipeServer server(c.manner);
    ASSERT_TRUE(server.Ok());
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    std::vector<rt::Bytes> bodies(kFiles);
    net::HttpConnection connection(1);
    const auto options = [&](size_t i) {
      net::FileDownload d("http://" + host + "/" + Name(i), "", ".tmp");
      d.body = &bodies[i];
      if (c.via_proxy) d.proxy = net::ProxyUse::Given(net::ProxyRoute{"127.0.0.1", server.Port()});
      d.limits.receive_wait_ms = kWaitSeconds * 1000;
      d.expected_size = static_cast<int64_t>(Content(i).size());
      d.connection = &connection;
      return d;
    };
    std::atomic<int64_t> total{0}, done{0};
    bool answers_ahead = false, trouble = false;
    for (size_t i = 0; i < kFiles; ++i) {
      const net::DownloadReport report = net::HttpDownloadReport(options(i), total, done);
      EXPECT_TRUE(report.ok()) << Name(i) << ": " << net::Describe(report);
      EXPECT_EQ(std::string(bodies[i].begin(), bodies[i].end()), Content(i)) << Name(i);
      answers_ahead = answers_ahead || report.sent_ahead;
      trouble = trouble || !connection.TakeTrouble().empty();
      // The requests waiting on the connection are those of the next files.
      for (size_t next = i + 1 + connection.Ahead(); !trouble && next < kFiles && connection.Ahead() < kMostAhead;
           ++next) {
        if (!net::SendAhead(options(next))) break;
      }
    }
    connection.Close();
    EXPECT_EQ(answers_ahead, c.answers_ahead);
    EXPECT_EQ(trouble, c.trouble);
    EXPECT_EQ(connection.AnsweredAhead() < 3 * connection.ClosesWithAhead(), c.few_answers_per_close)
        << connection.AnsweredAhead() << " answers, " << connection.ClosesWithAhead() << " closes";
    EXPECT_GE(server.Requests().size(), kFiles);
    for (const std::string& request : server.Requests()) {
      EXPECT_EQ(request, "GET " + (c.via_proxy ? "http://" + host : std::string()) + "/" + PathOf(request) +
                             " HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nHost: " + host +
                             "\r\nConnection: Keep-Alive\r\n\r\n\r\n");
    }
  }
}

}  // namespace

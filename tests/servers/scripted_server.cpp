#include "tests/servers/scripted_server.h"

#include <chrono>
#include <memory>

namespace testsrv {
namespace {

constexpr int kSignalWaitMs = 20000;
constexpr size_t kMaxRequestBytes = 1 << 20;
constexpr int32_t kRequestWaitSeconds = 10;

using Clock = std::chrono::steady_clock;

}  // namespace

Script& Script::Send(const std::string& bytes) {
  steps_.push_back({Step::Kind::kSend, bytes, 0});
  return *this;
}
Script& Script::Pause(int milliseconds) {
  steps_.push_back({Step::Kind::kPause, std::string(), milliseconds});
  return *this;
}
Script& Script::WaitForSignal() {
  steps_.push_back({Step::Kind::kWaitSignal, std::string(), kSignalWaitMs});
  return *this;
}
Script& Script::HoldOpen(int max_milliseconds) {
  steps_.push_back({Step::Kind::kHoldOpen, std::string(), max_milliseconds});
  return *this;
}
Script& Script::NoRequest() {
  reads_request_ = false;
  return *this;
}
Script& Script::ReadRequest() {
  steps_.push_back({Step::Kind::kReadRequest, std::string(), 0});
  return *this;
}

ScriptedServer::ScriptedServer(Script script, uint16_t port)
    : ScriptedServer(std::vector<Script>{std::move(script)}, port) {}

ScriptedServer::ScriptedServer(std::vector<Script> scripts, uint16_t port,
                               const std::string& address)
    : scripts_(std::move(scripts)), address_(address) {
  rt::Text host;
  ok_ = listener_.Create() && listener_.Bind(port, address_) && listener_.Listen() &&
        listener_.LocalAddress(host, port_);
  if (ok_) thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    signalled_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) {
    // A server still waiting in Accept is woken by a connection of our own.
    bool waiting;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiting = connections_ < scripts_.size();
    }
    if (waiting) {
      net::TcpSocket poke;
      if (poke.Create()) (void)poke.Connect(address_, port_);
      thread_.join();
    } else {
      thread_.join();
    }
  }
  for (std::thread& serving : serving_) serving.join();
}

std::string ScriptedServer::Url(const std::string& path) const {
  return "http://" + address_ + ":" + std::to_string(port_) + "/" + path;
}

std::string ScriptedServer::Request(size_t n) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(kRequestWaitSeconds), [&] { return n < requests_.size() || stopping_; });
  return n < requests_.size() ? requests_[n] : std::string();
}

size_t ScriptedServer::ConnectionOf(size_t n) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(kRequestWaitSeconds), [&] { return n < requests_.size() || stopping_; });
  return n < request_connections_.size() ? request_connections_[n] : static_cast<size_t>(-1);
}

size_t ScriptedServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

size_t ScriptedServer::Connections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

void ScriptedServer::Signal() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  changed_.notify_all();
}

void ScriptedServer::Join() {
  if (thread_.joinable()) thread_.join();
}

void ScriptedServer::Run() {
  for (size_t i = 0; i < scripts_.size(); ++i) {
    net::TcpSocket client;
    if (!listener_.Accept(client)) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      ++connections_;
    }
    serving_.emplace_back([this, i, taken = std::make_shared<net::TcpSocket>(std::move(client))] {
      Serve(*taken, scripts_[i], i);
    });
  }
}

// Up to the blank line, then whatever is already waiting (the odd extra line
// end of some requests arrives in the same segment). A further request that
// never came (the client closed) is not recorded.
void ScriptedServer::ReadOneRequest(net::TcpSocket& client, size_t index, bool first) {
  std::string request;
  rt::Bytes chunk;
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequestBytes &&
         client.Receive(chunk, kRequestWaitSeconds)) {
    request.append(chunk.begin(), chunk.end());
  }
  while (request.size() < kMaxRequestBytes && client.Receive(chunk, 0)) {
    request.append(chunk.begin(), chunk.end());
  }
  if (!first && request.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    request_connections_.push_back(index);
  }
  changed_.notify_all();
}

void ScriptedServer::Serve(net::TcpSocket& client, const Script& script, size_t index) {
  rt::Bytes chunk;
  if (script.ReadsRequest()) {
    ReadOneRequest(client, index, true);
  } else {
    // Kept in the count, so the n-th connection's request stays the n-th.
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::string());
    request_connections_.push_back(index);
  }
  changed_.notify_all();

  for (const Script::Step& step : script.Steps()) {
    switch (step.kind) {
      case Script::Step::Kind::kSend:
        if (!client.Send(reinterpret_cast<const std::uint8_t*>(step.bytes.data()),
                         static_cast<int32_t>(step.bytes.size()), 5)) {
          return;
        }
        break;
      case Script::Step::Kind::kPause:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.milliseconds));
        break;
      case Script::Step::Kind::kWaitSignal: {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(step.milliseconds),
                          [&] { return signalled_; });
        signalled_ = stopping_;
        break;
      }
      case Script::Step::Kind::kReadRequest:
        ReadOneRequest(client, index, false);
        break;
      case Script::Step::Kind::kHoldOpen: {
        const auto deadline = Clock::now() + std::chrono::milliseconds(step.milliseconds);
        // A receive that fails well before its one-second wait means the
        // client has closed.
        while (Clock::now() < deadline) {
          const auto started = Clock::now();
          if (client.Receive(chunk, 1)) continue;
          if (Clock::now() - started < std::chrono::milliseconds(500)) break;
          std::lock_guard<std::mutex> lock(mutex_);
          if (stopping_) break;
        }
        break;
      }
    }
  }
}

std::string OkResponse(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string PatternBytes(size_t n, size_t offset) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    const size_t p = i + offset;
    bytes[i] = static_cast<char>((p * 7 + p / 251) & 0xFF);
  }
  return bytes;
}

}  // namespace testsrv

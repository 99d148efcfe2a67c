#pragma once
// A scriptable HTTP test server inside the test process, on 127.0.0.1 and an
// ephemeral port (or a given one). It takes one connection per script, in
// order, and serves each on a thread of its own (so a kept connection and a
// new one can be open at once). It records the raw request bytes (read up to
// the blank line and whatever arrived with it), then plays the script: exact
// bytes, pauses, waits for a signal from the test, reading a further request
// on the same connection, holding the connection open until the client
// hangs up, closing early (the script's end). Every wait is bounded, so a
// failing test cannot hang the suite.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/tcp_socket.h"

namespace testsrv {

class Script {
 public:
  // Sends exactly these bytes.
  Script& Send(const std::string& bytes);
  // Sleeps.
  Script& Pause(int milliseconds);
  // Waits until the test calls ScriptedServer::Signal() (at most 20 s).
  Script& WaitForSignal();
  // Keeps the connection open until the client closes it (at most
  // `max_milliseconds`), draining what it sends.
  Script& HoldOpen(int max_milliseconds = 20000);
  // Skips reading the request: for scripts that answer before (or instead of)
  // reading.
  Script& NoRequest();
  // Reads the next request on this connection (a kept connection's second,
  // third, ...), recorded after the requests read before it.
  Script& ReadRequest();

  struct Step {
    enum class Kind { kSend, kPause, kWaitSignal, kHoldOpen, kReadRequest } kind;
    std::string bytes;
    int milliseconds = 0;
  };
  const std::vector<Step>& Steps() const { return steps_; }
  bool ReadsRequest() const { return reads_request_; }

 private:
  std::vector<Step> steps_;
  bool reads_request_ = true;
};

class ScriptedServer {
 public:
  // Serves one connection per script on `address` (a loopback address).
  // Port 0 picks a free port; Ok() is false when the port cannot be had.
  explicit ScriptedServer(std::vector<Script> scripts, uint16_t port = 0,
                          const std::string& address = "127.0.0.1");
  explicit ScriptedServer(Script script, uint16_t port = 0);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  bool Ok() const { return ok_; }
  uint16_t Port() const { return port_; }
  // "http://<address>:<port>/" + path.
  std::string Url(const std::string& path) const;
  // The raw bytes of the n-th request read, over all connections; waits
  // (bounded) until it was read.
  std::string Request(size_t n = 0);
  // The connection (0-based, in the order taken) the n-th request came on;
  // waits like Request.
  size_t ConnectionOf(size_t n);
  // Requests read so far.
  size_t Requests();
  // Connections taken so far.
  size_t Connections();
  void Signal();
  // Waits for the script thread to finish (bounded by the scripts' own waits).
  void Join();

 private:
  void Run();
  void Serve(net::TcpSocket& client, const Script& script, size_t index);
  void ReadOneRequest(net::TcpSocket& client, size_t index, bool first);

  std::vector<Script> scripts_;
  net::TcpSocket listener_;
  std::string address_;
  uint16_t port_ = 0;
  bool ok_ = false;
  std::thread thread_;
  std::vector<std::thread> serving_;  // one per connection taken
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> requests_;
  std::vector<size_t> request_connections_;
  size_t connections_ = 0;
  bool signalled_ = false;
  bool stopping_ = false;
};

// "HTTP/1.1 200 OK\r\nContent-Length: N\r\n\r\n" + body, the common answer.
std::string OkResponse(const std::string& body);
// n bytes of a repeating, position-dependent pattern (so misplaced bytes show).
std::string PatternBytes(size_t n, size_t offset = 0);

}  // namespace testsrv

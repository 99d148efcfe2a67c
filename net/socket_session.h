#pragma once
// SocketSession: starts the system's sockets library (Windows Sockets 2.2) and
// cleans it up on destruction when the start succeeded. On POSIX there is
// nothing to start and the result is always 0.
#include <cstdint>

namespace net {

class SocketSession {
 public:
  SocketSession() = default;
  ~SocketSession();
  SocketSession(const SocketSession&) = delete;
  SocketSession& operator=(const SocketSession&) = delete;

  // The start result goes to StartResult(): 0 on success.
  void Startup();
  int32_t StartResult() const { return start_result_; }

 private:
  int32_t start_result_ = 0;
  bool started_ = false;
};

}  // namespace net

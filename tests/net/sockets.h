#pragma once
// The sockets library for a test program: started on first use, cleaned up
// at exit. Returns the start result (0: started).
#include <cstdint>

#include "net/socket_session.h"

namespace nettest {

inline int32_t StartSockets() {
  static net::SocketSession session;
  static const bool started = (session.Startup(), true);
  static_cast<void>(started);
  return session.StartResult();
}

}  // namespace nettest

#include "net/socket_session.h"

#include "net/socket_api.h"

namespace net {

SocketSession::~SocketSession() {
  // Only a successful start is balanced by a clean-up.
  if (started_ && start_result_ == 0) sys::CleanupSockets();
}

void SocketSession::Startup() {
  start_result_ = sys::StartSockets();
  started_ = true;
}

}  // namespace net

#include "net/socket_globals.h"

namespace net {

SocketSession& GlobalSocketSession() {
  static SocketSession session;
  return session;
}

TcpSocket& GlobalSocket() {
  // Function-local statics are destroyed in reverse order of completed
  // construction: touching the session first makes it outlive the socket.
  GlobalSocketSession();
  static TcpSocket socket;
  return socket;
}

}  // namespace net

#pragma once
// The process-wide socket objects: one session and the one socket that the
// download engine drives. Both are built on first use and destroyed at exit in
// the reverse order of construction; GlobalSocket() constructs the session
// first, so the socket is always destroyed (closed) before the session cleans
// the sockets library up.
#include "net/socket_session.h"
#include "net/tcp_socket.h"

namespace net {

SocketSession& GlobalSocketSession();
TcpSocket& GlobalSocket();

}  // namespace net

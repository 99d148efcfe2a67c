#pragma once
// The process-wide socket objects: one session and the one socket that the
// download engine drives. Both exist from the start of the program and are
// destroyed at exit, the socket (closed) before the session cleans the
// sockets library up.
#include "net/socket_session.h"
#include "net/tcp_socket.h"

namespace net {

SocketSession& GlobalSocketSession();
TcpSocket& GlobalSocket();

}  // namespace net

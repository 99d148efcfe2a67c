#include "net/socket_globals.h"

namespace net {
namespace {

// Defined in this order, so destroyed in the reverse: the socket is closed
// before the session cleans the sockets library up. Both constructors are
// constexpr, so the objects are ready before any code runs, and no
// first-use guard (with the threads library behind it) is needed.
SocketSession g_session;
TcpSocket g_socket;

}  // namespace

SocketSession& GlobalSocketSession() { return g_session; }

TcpSocket& GlobalSocket() { return g_socket; }

}  // namespace net

#pragma once
// What BSD sockets and Windows Sockets share to the letter: the IPv4 address
// record and the name lookup. For the two socket backends only: it brings in
// the system's socket headers.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "net/socket_api.h"

namespace net::sys {

// The 16-byte IPv4 socket address of an endpoint, and back.
sockaddr_in ToSockaddr(const Endpoint& endpoint);
Endpoint FromSockaddr(const sockaddr_in& address);

}  // namespace net::sys

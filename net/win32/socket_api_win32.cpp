// Windows Sockets backend (ws2_32, bound when the program is linked).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "net/socket_api_inet.h"

namespace net::sys {
namespace {

SOCKET Sock(SocketHandle handle) { return static_cast<SOCKET>(handle); }

}  // namespace

int32_t StartSockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}

void CleanupSockets() { WSACleanup(); }

SocketHandle OpenSocket(bool datagram) {
  const SOCKET s = socket(AF_INET, datagram ? SOCK_DGRAM : SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  return static_cast<SocketHandle>(s);
}

void CloseSocket(SocketHandle handle) { closesocket(Sock(handle)); }

rt::Text FormatAddress(uint32_t address) {
  in_addr value;
  value.s_addr = address;
  const char* text = inet_ntoa(value);
  return text != nullptr ? rt::Text(text) : rt::Text();
}

bool BindSocket(SocketHandle handle, const Endpoint& endpoint) {
  const sockaddr_in address = ToSockaddr(endpoint);
  return bind(Sock(handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
         SOCKET_ERROR;
}

bool ConnectSocket(SocketHandle handle, const Endpoint& endpoint) {
  const sockaddr_in address = ToSockaddr(endpoint);
  if (connect(Sock(handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
    return false;
  }
  // Acknowledge every segment at once instead of after the delayed-ACK timer
  // (200 ms by default): a server that holds a small body until its header is
  // acknowledged (Nagle's rule) would otherwise cost every small file that
  // long. Windows 10 1703 and later; elsewhere the call fails and nothing
  // changes, so its result is not looked at.
  constexpr DWORD kSetAckFrequency = 0x98000017;  // SIO_TCP_SET_ACK_FREQUENCY
  UCHAR every_segment = 1;                         // TCP_ACK_FREQUENCY_PARAMETERS
  DWORD returned = 0;
  const int error = WSAGetLastError();
  static_cast<void>(WSAIoctl(Sock(handle), kSetAckFrequency, &every_segment, sizeof every_segment, nullptr, 0,
                             &returned, nullptr, nullptr));
  // Every request goes out whole in one send: Nagle's rule would only hold a
  // request sent ahead until the one before it is acknowledged.
  const BOOL no_delay = TRUE;
  static_cast<void>(setsockopt(Sock(handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
                               sizeof no_delay));
  WSASetLastError(error);
  return true;
}

bool ListenSocket(SocketHandle handle, int32_t backlog) {
  return listen(Sock(handle), backlog) != SOCKET_ERROR;
}

SocketHandle AcceptSocket(SocketHandle handle) {
  sockaddr_in address;
  int length = sizeof address;
  const SOCKET s = accept(Sock(handle), reinterpret_cast<sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  return static_cast<SocketHandle>(s);
}

WaitResult WaitReady(SocketHandle handle, bool for_write, int32_t milliseconds) {
  if (milliseconds < 0) {
    WSASetLastError(WSAEINVAL);
    return WaitResult::kFailed;
  }
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Sock(handle), &set);
  timeval wait;
  wait.tv_sec = milliseconds / 1000;
  wait.tv_usec = (milliseconds % 1000) * 1000;
  const int n = for_write ? select(0, nullptr, &set, nullptr, &wait)
                          : select(0, &set, nullptr, nullptr, &wait);
  if (n == SOCKET_ERROR) return WaitResult::kFailed;
  return n == 0 ? WaitResult::kTimedOut : WaitResult::kReady;
}

int32_t SendSome(SocketHandle handle, const std::uint8_t* data, int32_t size) {
  return send(Sock(handle), reinterpret_cast<const char*>(data), size, 0);
}

int32_t ReceiveSome(SocketHandle handle, std::uint8_t* buffer, int32_t size) {
  return recv(Sock(handle), reinterpret_cast<char*>(buffer), size, 0);
}

// Telling whether data waits costs a call of its own here (FIONREAD), no
// cheaper than the wait itself.
int32_t ReceiveIfWaiting(SocketHandle, std::uint8_t*, int32_t) { return kNothingWaiting; }

int32_t SendDatagram(SocketHandle handle, const std::uint8_t* data, int32_t size,
                     const Endpoint& to) {
  const sockaddr_in address = ToSockaddr(to);
  return sendto(Sock(handle), reinterpret_cast<const char*>(data), size, 0,
                reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int32_t ReceiveDatagram(SocketHandle handle, std::uint8_t* buffer, int32_t size, Endpoint* from) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  int length = sizeof address;
  const int n = recvfrom(Sock(handle), reinterpret_cast<char*>(buffer), size, 0,
                         reinterpret_cast<sockaddr*>(&address), &length);
  if (n == SOCKET_ERROR) return -1;
  *from = FromSockaddr(address);
  return n;
}

bool LocalEndpoint(SocketHandle handle, Endpoint* endpoint) {
  sockaddr_in address;
  int length = sizeof address;
  if (getsockname(Sock(handle), reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  *endpoint = FromSockaddr(address);
  return true;
}

bool PeerEndpoint(SocketHandle handle, Endpoint* endpoint) {
  sockaddr_in address;
  int length = sizeof address;
  if (getpeername(Sock(handle), reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  *endpoint = FromSockaddr(address);
  return true;
}

bool SetBroadcast(SocketHandle handle) {
  const int32_t on = 1;
  return setsockopt(Sock(handle), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                    sizeof on) != SOCKET_ERROR;
}

int32_t LastSocketError() { return WSAGetLastError(); }
void SetLastSocketError(int32_t code) { WSASetLastError(code); }

}  // namespace net::sys

// BSD sockets backend. Errors are reported as Windows Sockets codes so that
// callers see the same values on every system: the errno values with a
// Windows Sockets counterpart are mapped (EINVAL -> 10022, ECONNREFUSED ->
// 10061, ...); any other errno value is reported unchanged.
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "net/socket_api_inet.h"

namespace net::sys {
namespace {

thread_local int32_t t_last_error = 0;

struct ErrnoCode {
  int errno_value;
  int32_t wsa_code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {EINTR, 10004},        {EBADF, 10009},        {EACCES, 10013},      {EFAULT, 10014},
    {EINVAL, 10022},       {EMFILE, 10024},       {EAGAIN, 10035},      {EINPROGRESS, 10036},
    {EALREADY, 10037},     {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {EOPNOTSUPP, 10045},   {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},  {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},     {ENETUNREACH, 10051},  {ENETRESET, 10052},   {ECONNABORTED, 10053},
    {ECONNRESET, 10054},   {EPIPE, 10054},        {ENOBUFS, 10055},     {EISCONN, 10056},
    {ENOTCONN, 10057},     {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061}, {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
};

void RecordErrno() {
  const int e = errno;
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.errno_value == e) {
      t_last_error = entry.wsa_code;
      return;
    }
  }
  t_last_error = e;
}

int Fd(SocketHandle handle) { return static_cast<int>(handle); }

// Handle 0 means "no socket" to TcpSocket, so a descriptor 0 (possible when
// standard input is closed) is moved to a higher number.
SocketHandle AvoidZero(int fd) {
  if (fd != 0) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
  const int saved = errno;
  close(fd);
  errno = saved;
  return moved;
}

}  // namespace

int32_t StartSockets() { return 0; }
void CleanupSockets() {}

SocketHandle OpenSocket(bool datagram) {
  const int fd = socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    RecordErrno();
    return kInvalidSocket;
  }
  const SocketHandle handle = AvoidZero(fd);
  if (handle < 0) {
    RecordErrno();
    return kInvalidSocket;
  }
  return handle;
}

void CloseSocket(SocketHandle handle) { close(Fd(handle)); }

rt::Text FormatAddress(uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr value;
  value.s_addr = address;
  inet_ntop(AF_INET, &value, text, sizeof text);
  return text;
}

bool BindSocket(SocketHandle handle, const Endpoint& endpoint) {
  const sockaddr_in address = ToSockaddr(endpoint);
  if (bind(Fd(handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    RecordErrno();
    return false;
  }
  return true;
}

// Acknowledges what arrives at once instead of after the delayed-ACK timer
// (40 ms): a server that holds a small body until its header is acknowledged
// (Nagle's rule, on while a connection is not yet idle) would otherwise cost
// every small file that long. Linux clears the mode again as it sees fit, so
// it is set again after each receive; a failure changes nothing else.
void AckAtOnce(SocketHandle handle) {
  const int on = 1;
  static_cast<void>(setsockopt(Fd(handle), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on));
}

bool ConnectSocket(SocketHandle handle, const Endpoint& endpoint) {
  const sockaddr_in address = ToSockaddr(endpoint);
  if (connect(Fd(handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    RecordErrno();
    return false;
  }
  AckAtOnce(handle);
  // Every request goes out whole in one send: Nagle's rule would only hold a
  // request sent ahead until the one before it is acknowledged.
  const int on = 1;
  static_cast<void>(setsockopt(Fd(handle), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on));
  return true;
}

bool ListenSocket(SocketHandle handle, int32_t backlog) {
  if (listen(Fd(handle), backlog) != 0) {
    RecordErrno();
    return false;
  }
  return true;
}

SocketHandle AcceptSocket(SocketHandle handle) {
  sockaddr_in address;
  socklen_t length = sizeof address;
  const int fd = accept4(Fd(handle), reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (fd < 0) {
    RecordErrno();
    return kInvalidSocket;
  }
  const SocketHandle accepted = AvoidZero(fd);
  if (accepted < 0) RecordErrno();
  return accepted < 0 ? kInvalidSocket : accepted;
}

WaitResult WaitReady(SocketHandle handle, bool for_write, int32_t milliseconds) {
  if (milliseconds < 0) {
    t_last_error = 10022;
    return WaitResult::kFailed;
  }
  pollfd entry;
  entry.fd = Fd(handle);
  entry.events = for_write ? POLLOUT : POLLIN;
  entry.revents = 0;
  const int n = poll(&entry, 1, milliseconds);
  if (n < 0) {
    RecordErrno();
    return WaitResult::kFailed;
  }
  return n == 0 ? WaitResult::kTimedOut : WaitResult::kReady;
}

int32_t SendSome(SocketHandle handle, const std::uint8_t* data, int32_t size) {
  // MSG_NOSIGNAL: a peer that went away is an error result, not SIGPIPE.
  const ssize_t n = send(Fd(handle), data, static_cast<size_t>(size), MSG_NOSIGNAL);
  if (n < 0) RecordErrno();
  return static_cast<int32_t>(n);
}

int32_t ReceiveSome(SocketHandle handle, std::uint8_t* buffer, int32_t size) {
  const ssize_t n = recv(Fd(handle), buffer, static_cast<size_t>(size), 0);
  if (n < 0) RecordErrno();
  if (n > 0) AckAtOnce(handle);
  return static_cast<int32_t>(n);
}

int32_t ReceiveIfWaiting(SocketHandle handle, std::uint8_t* buffer, int32_t size) {
  const ssize_t n = recv(Fd(handle), buffer, static_cast<size_t>(size), MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return kNothingWaiting;
  if (n < 0) RecordErrno();
  if (n > 0) AckAtOnce(handle);
  return static_cast<int32_t>(n);
}

int32_t SendDatagram(SocketHandle handle, const std::uint8_t* data, int32_t size,
                     const Endpoint& to) {
  const sockaddr_in address = ToSockaddr(to);
  const ssize_t n = sendto(Fd(handle), data, static_cast<size_t>(size), MSG_NOSIGNAL,
                           reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (n < 0) {
    RecordErrno();
    return -1;
  }
  return static_cast<int32_t>(n);
}

int32_t ReceiveDatagram(SocketHandle handle, std::uint8_t* buffer, int32_t size, Endpoint* from) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  socklen_t length = sizeof address;
  const ssize_t n = recvfrom(Fd(handle), buffer, static_cast<size_t>(size), 0,
                             reinterpret_cast<sockaddr*>(&address), &length);
  if (n < 0) {
    RecordErrno();
    return -1;
  }
  *from = FromSockaddr(address);
  return static_cast<int32_t>(n);
}

bool LocalEndpoint(SocketHandle handle, Endpoint* endpoint) {
  sockaddr_in address;
  socklen_t length = sizeof address;
  if (getsockname(Fd(handle), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    RecordErrno();
    return false;
  }
  *endpoint = FromSockaddr(address);
  return true;
}

bool PeerEndpoint(SocketHandle handle, Endpoint* endpoint) {
  sockaddr_in address;
  socklen_t length = sizeof address;
  if (getpeername(Fd(handle), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    RecordErrno();
    return false;
  }
  *endpoint = FromSockaddr(address);
  return true;
}

bool SetBroadcast(SocketHandle handle) {
  const int32_t on = 1;
  if (setsockopt(Fd(handle), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    RecordErrno();
    return false;
  }
  return true;
}

int32_t LastSocketError() { return t_last_error; }
void SetLastSocketError(int32_t code) { t_last_error = code; }

}  // namespace net::sys

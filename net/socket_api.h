#pragma once
// The thin platform layer under TcpSocket and SocketSession: one function per
// system call, IPv4 only. net/posix/ maps it to BSD sockets, net/win32/ to
// Windows Sockets. Every failing call leaves a Windows Sockets error code for
// LastSocketError() on the calling thread.
#include <cstdint>

#include "runtime/types.h"

namespace net {

// A socket handle: 0 when there is none, -1 after a failed create.
using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = 0;
constexpr SocketHandle kInvalidSocket = -1;

}  // namespace net

namespace net::sys {

struct Endpoint {
  uint32_t address = 0;  // network byte order
  uint16_t port = 0;     // host byte order
};

enum class WaitResult { kReady, kTimedOut, kFailed };

// WSAStartup for version 2.2 (0 on POSIX) and its clean-up.
int32_t StartSockets();
void CleanupSockets();

SocketHandle OpenSocket(bool datagram);
void CloseSocket(SocketHandle handle);

// A dotted IPv4 text; false when it does not parse or is 255.255.255.255
// (the "no address" value of the classic parser).
bool ParseDottedAddress(const rt::Text& text, uint32_t* address);
// The first IPv4 address of a host name lookup.
bool LookupHost(const rt::Text& host, uint32_t* address);
rt::Text FormatAddress(uint32_t address);

bool BindSocket(SocketHandle handle, const Endpoint& endpoint);
bool ConnectSocket(SocketHandle handle, const Endpoint& endpoint);
bool ListenSocket(SocketHandle handle, int32_t backlog);
SocketHandle AcceptSocket(SocketHandle handle);

// Waits up to `milliseconds` for the handle to become readable (or
// writable); 0 only polls; a negative wait fails.
WaitResult WaitReady(SocketHandle handle, bool for_write, int32_t milliseconds);
// The system call's result: bytes moved, 0 for a closed peer (receive), -1 on error.
int32_t SendSome(SocketHandle handle, const std::uint8_t* data, int32_t size);
int32_t ReceiveSome(SocketHandle handle, std::uint8_t* buffer, int32_t size);
// Like ReceiveSome but never blocks: kNothingWaiting when no data (and no
// end of stream or error) is pending, or when the system offers no cheap way
// to tell; the caller then waits and receives as usual.
constexpr int32_t kNothingWaiting = -2;
int32_t ReceiveIfWaiting(SocketHandle handle, std::uint8_t* buffer, int32_t size);
int32_t SendDatagram(SocketHandle handle, const std::uint8_t* data, int32_t size,
                     const Endpoint& to);
int32_t ReceiveDatagram(SocketHandle handle, std::uint8_t* buffer, int32_t size, Endpoint* from);

bool LocalEndpoint(SocketHandle handle, Endpoint* endpoint);
bool PeerEndpoint(SocketHandle handle, Endpoint* endpoint);
bool SetBroadcast(SocketHandle handle);

int32_t LastSocketError();
void SetLastSocketError(int32_t code);

}  // namespace net::sys

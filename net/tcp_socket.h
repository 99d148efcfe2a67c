#pragma once
// TcpSocket: one IPv4 socket handle with blocking operations whose time-outs
// are whole seconds. Failures are results (false, 0, -1 or an empty buffer);
// the socket error code stays readable through LastError() on the thread that
// made the failing call. Error codes are Windows Sockets values on every
// system (the POSIX backend maps errno to them).
//
// The object owns its handle: it closes it on destruction, copying is not
// allowed (two owners would close the same handle twice), moving hands it over.
#include <cstdint>
#include <memory>

#include "net/socket_api.h"
#include "runtime/types.h"

namespace net {

// Time-out of Send, Receive and ReceiveFrom when the caller gives none.
constexpr int32_t kDefaultWaitSeconds = 15;
// One Receive or ReceiveFrom returns at most this many bytes.
constexpr int32_t kReceiveBufferSize = 8191;
// Bytes one system receive may take ahead of the callers. Receive still hands
// out at most kReceiveBufferSize bytes per call; reading ahead saves system
// calls (and, under Wine, server round trips) on bulk transfers.
constexpr int32_t kReadAheadSize = 262144;
// Backlog of Listen.
constexpr int32_t kListenBacklog = 5;
// The error set when a host or address text cannot be resolved (WSAEINVAL).
constexpr int32_t kErrorInvalidArgument = 10022;

// Why the last receive gave nothing.
enum class ReceiveFailure {
  kNone,      // it gave bytes
  kTimedOut,  // nothing arrived within the wait
  kClosed,    // the peer closed the connection (end of stream)
  kError,     // the system reported an error (LastError() says which)
};

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;

  // A new IPv4 socket, datagram or stream. The previous handle is replaced
  // without being closed: Close first.
  [[nodiscard]] bool Create(bool datagram = false);
  // Binds to `port` on `address` (a dotted IPv4 text), or on every local
  // address when `address` is empty. An address that does not parse (so also
  // 255.255.255.255) fails with error 10022 before anything is bound.
  [[nodiscard]] bool Bind(uint16_t port, const rt::Text& address = rt::Text());
  // Connects to a dotted IPv4 address or a host name (first IPv4 address of
  // the lookup). A name that does not resolve fails with error 10022. Blocks
  // as long as the system's connect time-out.
  [[nodiscard]] bool Connect(const rt::Text& host, uint16_t port);
  // Closes the handle when it is neither 0 nor -1 and sets it to 0.
  void Close();
  // Sends every byte, waiting up to `wait_seconds` for writability before
  // each partial send. An empty buffer succeeds at once.
  [[nodiscard]] bool Send(const rt::Bytes& data, int32_t wait_seconds = kDefaultWaitSeconds);
  [[nodiscard]] bool Send(const std::uint8_t* data, int32_t size,
                          int32_t wait_seconds = kDefaultWaitSeconds);
  // Waits up to `wait_seconds` for readability and receives at most
  // kReceiveBufferSize bytes into `data` (replacing its content; its storage
  // is reused). False, with `data` empty, on a time-out, a closed peer or an
  // error. Bytes read ahead by an earlier call come first, without waiting.
  [[nodiscard]] bool Receive(rt::Bytes& data, int32_t wait_seconds = kDefaultWaitSeconds);
  // The same without a copy: `*data` points at the bytes inside the socket's
  // own read-ahead buffer and stays valid until the buffer starts over (see
  // RefillStartsOver), Close or destruction. `*size` is the count (0 on
  // failure).
  [[nodiscard]] bool ReceiveView(const std::uint8_t** data, int32_t* size,
                                 int32_t wait_seconds = kDefaultWaitSeconds);
  // ReceiveView with the wait in milliseconds. `most` bounds the bytes handed
  // out and, when nothing is read ahead, the system read itself (a rate
  // limit's grant).
  [[nodiscard]] bool ReceiveViewMs(const std::uint8_t** data, int32_t* size, int32_t wait_ms,
                                   int32_t most = kReadAheadSize);
  // Receive with the wait in milliseconds, `most` as for ReceiveViewMs.
  [[nodiscard]] bool ReceiveMs(rt::Bytes& data, int32_t wait_ms, int32_t most = kReadAheadSize);
  // Why the last receive of this object failed (kNone after one that gave bytes).
  ReceiveFailure LastReceiveFailure() const { return last_failure_; }
  // True when the socket is open and nothing waits to be read: no bytes read
  // ahead, and the system reports no data, end of stream or error. A kept
  // connection that is not quiet has been closed by the server or carries
  // bytes nobody asked for.
  [[nodiscard]] bool Quiet() const;
  // Bytes received ahead and not handed out yet. While there are any, the
  // next receive neither waits nor overwrites earlier views.
  int32_t Buffered() const { return ahead_end_ - ahead_begin_; }
  // True when the next receive reads from the system into a read-ahead
  // buffer that is full, and so starts it over: views of earlier receives
  // end. Until then each read appends after the bytes before it.
  bool RefillStartsOver() const { return Buffered() == 0 && ahead_end_ == kReadAheadSize; }
  // Hands the last `n` bytes of the latest receive out again on the next
  // one (at most what that receive gave): bytes that belong to whoever reads
  // after the caller.
  void Unread(int32_t n);
  [[nodiscard]] bool Listen();
  // The current handle.
  SocketHandle Handle() const { return handle_; }
  // Closes the current handle and takes `new_handle`; returns it.
  SocketHandle Handle(SocketHandle new_handle);
  // Gives up the handle without closing it (the caller now owns it); the
  // object is left with none.
  [[nodiscard]] SocketHandle Release();
  // Takes one pending connection and gives it to `client` (which closes what
  // it held). The peer address is not returned.
  [[nodiscard]] bool Accept(TcpSocket& client);
  // One datagram: the bytes sent, -1 on a socket error, 0 when the host does
  // not resolve.
  int32_t SendTo(const rt::Bytes& data, const rt::Text& host, uint16_t port);
  // One datagram of at most kReceiveBufferSize bytes with its sender; empty on
  // failure (a time-out leaves host and port alone, a socket error sets them to
  // "" and 0).
  rt::Bytes ReceiveFrom(rt::Text& host, uint16_t& port, int32_t wait_seconds = kDefaultWaitSeconds);
  // The local or peer address as a dotted text and a port; "" and 0 on failure.
  [[nodiscard]] bool LocalAddress(rt::Text& host, uint16_t& port) const;
  [[nodiscard]] bool PeerAddress(rt::Text& host, uint16_t& port) const;
  [[nodiscard]] bool EnableBroadcast();
  // The calling thread's last socket error (a Windows Sockets code).
  static int32_t LastError();

 private:
  bool FillReadAhead(int32_t wait_ms, int32_t most);

  SocketHandle handle_ = kNoSocket;
  // Received but not yet handed out: read_ahead_[ahead_begin_, ahead_end_).
  std::unique_ptr<std::uint8_t[]> read_ahead_;
  int32_t ahead_begin_ = 0;
  int32_t ahead_end_ = 0;
  int32_t last_given_ = 0;  // bytes the latest receive handed out
  ReceiveFailure last_failure_ = ReceiveFailure::kNone;
};

}  // namespace net

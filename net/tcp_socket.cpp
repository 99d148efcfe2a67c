#include "net/tcp_socket.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "net/socket_api.h"

namespace net {
namespace {

bool IsOpen(SocketHandle handle) { return handle != kNoSocket && handle != kInvalidSocket; }

// Whole seconds as milliseconds, kept inside int32.
int32_t SecondsToMs(int32_t seconds) {
  constexpr int32_t kMaxSeconds = INT32_MAX / 1000;
  if (seconds > kMaxSeconds) return kMaxSeconds * 1000;
  return seconds < 0 ? -1 : seconds * 1000;
}

// A dotted address first; otherwise a name lookup. Either failure reports
// WSAEINVAL, whatever the resolver said, so callers see one code on every
// system.
bool Resolve(const rt::Text& host, uint32_t* address) {
  if (sys::ParseDottedAddress(host, address)) return true;
  if (!host.empty() && sys::LookupHost(host, address)) return true;
  sys::SetLastSocketError(kErrorInvalidArgument);
  return false;
}

}  // namespace

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoSocket)),
      read_ahead_(std::move(other.read_ahead_)),
      ahead_begin_(std::exchange(other.ahead_begin_, 0)),
      ahead_end_(std::exchange(other.ahead_end_, 0)),
      last_failure_(other.last_failure_) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNoSocket);
    read_ahead_ = std::move(other.read_ahead_);
    ahead_begin_ = std::exchange(other.ahead_begin_, 0);
    ahead_end_ = std::exchange(other.ahead_end_, 0);
    last_failure_ = other.last_failure_;
  }
  return *this;
}

bool TcpSocket::Create(bool datagram) {
  ahead_begin_ = ahead_end_ = 0;
  handle_ = sys::OpenSocket(datagram);
  return handle_ != kInvalidSocket;
}

bool TcpSocket::Bind(uint16_t port, const rt::Text& address) {
  sys::Endpoint endpoint;
  endpoint.port = port;
  if (!address.empty() && !sys::ParseDottedAddress(address, &endpoint.address)) {
    sys::SetLastSocketError(kErrorInvalidArgument);
    return false;
  }
  // An empty address text leaves INADDR_ANY (0).
  return sys::BindSocket(handle_, endpoint);
}

bool TcpSocket::Connect(const rt::Text& host, uint16_t port) {
  sys::Endpoint endpoint;
  endpoint.port = port;
  if (!Resolve(host, &endpoint.address)) return false;
  return sys::ConnectSocket(handle_, endpoint);
}

void TcpSocket::Close() {
  ahead_begin_ = ahead_end_ = 0;
  last_given_ = 0;
  if (!IsOpen(handle_)) return;
  sys::CloseSocket(handle_);
  handle_ = kNoSocket;
}

bool TcpSocket::Send(const rt::Bytes& data, int32_t wait_seconds) {
  return Send(data.data(), static_cast<int32_t>(data.size()), wait_seconds);
}

bool TcpSocket::Send(const std::uint8_t* data, int32_t size, int32_t wait_seconds) {
  int32_t sent = 0;
  // Bounded: every round either advances by at least one byte or returns.
  while (sent < size) {
    // A failing wait does not stop the send; only a time-out does.
    if (sys::WaitReady(handle_, true, SecondsToMs(wait_seconds)) == sys::WaitResult::kTimedOut) return false;
    const int32_t n = sys::SendSome(handle_, data + sent, size - sent);
    if (n < 1) return false;
    sent += n;
  }
  return true;
}

bool TcpSocket::Receive(rt::Bytes& data, int32_t wait_seconds) { return ReceiveMs(data, SecondsToMs(wait_seconds)); }

bool TcpSocket::ReceiveMs(rt::Bytes& data, int32_t wait_ms, int32_t most) {
  const std::uint8_t* view = nullptr;
  int32_t n = 0;
  const bool ok = ReceiveViewMs(&view, &n, wait_ms, most);
  // assign() keeps the caller's capacity, so a buffer passed again and again
  // is allocated once.
  data.assign(view, view + n);
  return ok;
}

bool TcpSocket::ReceiveView(const std::uint8_t** data, int32_t* size, int32_t wait_seconds) {
  return ReceiveViewMs(data, size, SecondsToMs(wait_seconds));
}

bool TcpSocket::ReceiveViewMs(const std::uint8_t** data, int32_t* size, int32_t wait_ms, int32_t most) {
  *data = nullptr;
  *size = 0;
  last_given_ = 0;
  most = std::clamp(most, 1, kReadAheadSize);
  if (ahead_begin_ == ahead_end_ && !FillReadAhead(wait_ms, most)) return false;
  last_failure_ = ReceiveFailure::kNone;
  const int32_t n = std::min({kReceiveBufferSize, most, ahead_end_ - ahead_begin_});
  *data = read_ahead_.get() + ahead_begin_;
  *size = n;
  ahead_begin_ += n;
  last_given_ = n;
  return true;
}

void TcpSocket::Unread(int32_t n) {
  const int32_t back = std::min(std::max(n, 0), last_given_);
  ahead_begin_ -= back;
  last_given_ -= back;
}

bool TcpSocket::Quiet() const {
  return IsOpen(handle_) && Buffered() == 0 && sys::WaitReady(handle_, false, 0) == sys::WaitResult::kTimedOut;
}

bool TcpSocket::FillReadAhead(int32_t wait_ms, int32_t most) {
  // A refill appends while room is left, so views of the bytes before stay
  // valid and a caller's run of them grows to a whole buffer; a full buffer
  // starts over (RefillStartsOver).
  const bool start_over = !read_ahead_ || ahead_end_ == kReadAheadSize;
#ifdef UPDATER_FRESH_READ_AHEAD
  // Fuzz builds: a new buffer each time it starts over, so that a view still
  // used after that points into freed memory and the sanitizer reports it.
  if (start_over) read_ahead_.reset(new std::uint8_t[kReadAheadSize]);
#else
  if (!read_ahead_) read_ahead_ = std::make_unique<std::uint8_t[]>(kReadAheadSize);
#endif
  if (start_over) ahead_begin_ = ahead_end_ = 0;
  last_given_ = 0;
  std::uint8_t* const into = read_ahead_.get() + ahead_end_;
  most = std::min(most, kReadAheadSize - ahead_end_);
  // Bytes already waiting need no wait: during a bulk transfer this saves a
  // system call per receive. The outcome is the same as waiting first.
  int32_t n = sys::ReceiveIfWaiting(handle_, into, most);
  if (n == sys::kNothingWaiting) {
    if (sys::WaitReady(handle_, false, wait_ms) == sys::WaitResult::kTimedOut) {
      last_failure_ = ReceiveFailure::kTimedOut;
      return false;
    }
    n = sys::ReceiveSome(handle_, into, most);
  }
  if (n < 1) {
    last_failure_ = n == 0 ? ReceiveFailure::kClosed : ReceiveFailure::kError;
    return false;
  }
  ahead_end_ += n;
  return true;
}

bool TcpSocket::Listen() { return sys::ListenSocket(handle_, kListenBacklog); }

SocketHandle TcpSocket::Handle(SocketHandle new_handle) {
  Close();
  handle_ = new_handle;
  return handle_;
}

SocketHandle TcpSocket::Release() {
  ahead_begin_ = ahead_end_ = 0;
  return std::exchange(handle_, kNoSocket);
}

bool TcpSocket::Accept(TcpSocket& client) {
  const SocketHandle accepted = sys::AcceptSocket(handle_);
  if (accepted == kInvalidSocket) return false;
  client.Handle(accepted);
  return true;
}

int32_t TcpSocket::SendTo(const rt::Bytes& data, const rt::Text& host, uint16_t port) {
  sys::Endpoint endpoint;
  endpoint.port = port;
  if (!Resolve(host, &endpoint.address)) return 0;
  return sys::SendDatagram(handle_, data.data(), static_cast<int32_t>(data.size()), endpoint);
}

rt::Bytes TcpSocket::ReceiveFrom(rt::Text& host, uint16_t& port, int32_t wait_seconds) {
  if (sys::WaitReady(handle_, false, SecondsToMs(wait_seconds)) == sys::WaitResult::kTimedOut) return {};
  rt::Bytes buffer(kReceiveBufferSize);
  sys::Endpoint from;
  const int32_t n = sys::ReceiveDatagram(handle_, buffer.data(), kReceiveBufferSize, &from);
  if (n < 0) {
    host.clear();
    port = 0;
    return {};
  }
  host = sys::FormatAddress(from.address);
  port = from.port;
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

namespace {

bool ReportEndpoint(bool ok, const sys::Endpoint& endpoint, rt::Text& host, uint16_t& port) {
  if (!ok) {
    host.clear();
    port = 0;
    return false;
  }
  host = sys::FormatAddress(endpoint.address);
  port = endpoint.port;
  return true;
}

}  // namespace

bool TcpSocket::LocalAddress(rt::Text& host, uint16_t& port) const {
  sys::Endpoint endpoint;
  return ReportEndpoint(sys::LocalEndpoint(handle_, &endpoint), endpoint, host, port);
}

bool TcpSocket::PeerAddress(rt::Text& host, uint16_t& port) const {
  sys::Endpoint endpoint;
  return ReportEndpoint(sys::PeerEndpoint(handle_, &endpoint), endpoint, host, port);
}

bool TcpSocket::EnableBroadcast() { return sys::SetBroadcast(handle_); }

int32_t TcpSocket::LastError() { return sys::LastSocketError(); }

}  // namespace net

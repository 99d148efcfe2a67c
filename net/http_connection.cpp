#include "net/http_connection.h"

namespace net {
namespace {

// Windows Sockets codes (the POSIX backend maps errno to them).
constexpr int32_t kErrorTimedOut = 10060;
constexpr int32_t kErrorRefused = 10061;

}  // namespace

bool HttpConnection::CanCarry(const rt::Text& host, uint16_t port) const {
  return kept_ && ahead_.empty() && host == host_ && port == port_ && socket_.Quiet();
}

bool HttpConnection::MaySendAhead(const rt::Text& host, uint16_t port) const {
  if (!kept_ || via_proxy_ || host != host_ || port != port_) return false;
  return !ahead_.empty() || socket_.Quiet();
}

bool HttpConnection::TakeAhead(const rt::Text& request) {
  if (ahead_.empty() || ahead_.front() != request) return false;
  ahead_.pop_front();
  return true;
}

rt::Text HttpConnection::TakeTrouble() {
  rt::Text why;
  why.swap(trouble_);
  return why;
}

void HttpConnection::Close() {
  socket_.Close();
  kept_ = false;
  ahead_.clear();
}

void HttpConnection::Connected(const rt::Text& host, uint16_t port, bool via_proxy) {
  host_ = host;
  port_ = port;
  via_proxy_ = via_proxy;
  kept_ = false;
  ahead_.clear();
}

void HttpConnection::Carried(bool keep) {
  if (keep) {
    kept_ = true;
  } else {
    Close();
  }
}

DownloadResult OpenConnection(TcpSocket& socket, const rt::Text& host, uint16_t port, DownloadReport* report) {
  socket.Close();
  if (!socket.Create()) {
    report->reason = FailReason::kSocketFailed;
    report->system_error = TcpSocket::LastError();
    return DownloadResult::SocketFailed;
  }
  if (!socket.Bind(0)) {
    report->reason = FailReason::kBindFailed;
    report->system_error = TcpSocket::LastError();
    return DownloadResult::BindFailed;
  }
  if (socket.Connect(host, port)) return DownloadResult::Ok;
  const int32_t error = TcpSocket::LastError();
  report->system_error = error;
  // A name that does not resolve reports WSAEINVAL (see TcpSocket::Connect).
  report->reason = error == kErrorInvalidArgument ? FailReason::kHostNotFound
                   : error == kErrorRefused       ? FailReason::kRefused
                   : error == kErrorTimedOut      ? FailReason::kConnectTimedOut
                                                  : FailReason::kConnectFailed;
  return DownloadResult::ConnectFailed;
}

}  // namespace net

#pragma once
// HttpConnection: a connection the download engine may keep across requests.
// It owns its socket, remembers where that socket is connected (the origin
// server, or the HTTP proxy in between) and whether it may carry another
// request. A caller that fetches many files from one host hands the same
// object to every call; one thread uses one object at a time, and each
// object holds at most one socket (with its bounded read-ahead buffer), so
// memory stays flat however many connections a caller keeps.
//
// The engine keeps the connection after a complete response to a fresh
// request that the server did not end (see KeepsConnection); it is used
// again only for a fresh request to the same host and port, and only while
// nothing waits on it (TcpSocket::Quiet): a server that closed an idle
// connection, or sent bytes after a response's end, costs a new connection.
//
// Requests may be sent ahead on a kept connection that does not go through
// a proxy (pipelining, see SendAhead): they wait here, oldest first, until a
// call with exactly the same request bytes reads its answer. A call with
// another request, or closing the connection, drops them unanswered; their
// callers then ask again on a connection of their own.
#include <cstdint>
#include <deque>

#include "net/download_report.h"
#include "net/tcp_socket.h"
#include "runtime/types.h"

namespace net {

class HttpConnection {
 public:
  // `id` names the connection in the log.
  explicit HttpConnection(int32_t id) : id_(id) {}
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  int32_t Id() const { return id_; }
  // Whether a fresh request to host:port may go over the kept socket now:
  // nothing sent ahead waits, and nothing else arrived.
  [[nodiscard]] bool CanCarry(const rt::Text& host, uint16_t port) const;
  void Close();

  // Whether one more request to host:port may be sent ahead now: the socket
  // is kept, connected there directly (no proxy), and quiet unless answers
  // to requests sent ahead are what waits on it.
  [[nodiscard]] bool MaySendAhead(const rt::Text& host, uint16_t port) const;
  void SentAhead(const rt::Text& request) { ahead_.push_back(request); }
  // The oldest request sent ahead is `request`: it leaves the queue, and
  // its answer is the next on the socket. False (nothing changed) when the
  // queue is empty or starts with another request.
  [[nodiscard]] bool TakeAhead(const rt::Text& request);
  size_t Ahead() const { return ahead_.size(); }
  // Over every socket this object has held: answers read to requests sent
  // ahead, and sockets that closed with requests sent ahead unanswered. A
  // server's limit on requests per connection makes some such closes; a
  // server that does not keep up with requests sent ahead closes after few
  // answers. The caller weighs the two for the server.
  int64_t AnsweredAhead() const { return answered_ahead_; }
  void AnsweredOneAhead() { ++answered_ahead_; }
  int64_t ClosesWithAhead() const { return closes_with_ahead_; }
  void ClosedWithAhead() { ++closes_with_ahead_; }
  // Why requests should no longer be sent ahead to this server, kept until
  // the caller takes it; the first reason counts.
  void NoteTrouble(const rt::Text& why) {
    if (trouble_.empty()) trouble_ = why;
  }
  [[nodiscard]] rt::Text TakeTrouble();

  // For the engine: the socket, connected anew by it or kept.
  TcpSocket& Socket() { return socket_; }
  // The socket has just been connected to host:port, which is a proxy or
  // the server itself.
  void Connected(const rt::Text& host, uint16_t port, bool via_proxy);
  // A response has been read: the socket is kept for the next request, or closed.
  void Carried(bool keep);

 private:
  const int32_t id_;
  TcpSocket socket_;
  rt::Text host_;
  uint16_t port_ = 0;
  bool via_proxy_ = false;
  bool kept_ = false;
  std::deque<rt::Text> ahead_;  // sent ahead, not answered, oldest first
  int64_t answered_ahead_ = 0;
  int64_t closes_with_ahead_ = 0;
  rt::Text trouble_;
};

// Makes `socket` a new connection to host:port (create, bind to any local
// port, connect). Ok, or SocketFailed, BindFailed or ConnectFailed with the
// reason in `report`.
[[nodiscard]] DownloadResult OpenConnection(TcpSocket& socket, const rt::Text& host, uint16_t port,
                                            DownloadReport* report);

}  // namespace net

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
#include <cstdint>

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
  // Whether a fresh request to host:port may go over the kept socket now.
  [[nodiscard]] bool CanCarry(const rt::Text& host, uint16_t port) const;
  void Close();

  // For the engine: the socket, connected anew by it or kept.
  TcpSocket& Socket() { return socket_; }
  // The socket has just been connected to host:port.
  void Connected(const rt::Text& host, uint16_t port);
  // A response has been read: the socket is kept for the next request, or closed.
  void Carried(bool keep);

 private:
  const int32_t id_;
  TcpSocket socket_;
  rt::Text host_;
  uint16_t port_ = 0;
  bool kept_ = false;
};

// Makes `socket` a new connection to host:port (create, bind to any local
// port, connect). Ok, or SocketFailed, BindFailed or ConnectFailed with the
// reason in `report`.
[[nodiscard]] DownloadResult OpenConnection(TcpSocket& socket, const rt::Text& host, uint16_t port,
                                            DownloadReport* report);

}  // namespace net

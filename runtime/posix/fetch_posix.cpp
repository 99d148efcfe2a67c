// A small HTTP/1.0 client standing in for the operating system's HTTP
// service: one GET, the whole body, bounded connect and receive time-outs.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>

#include "runtime/fetch.h"
#include "runtime/fetch_url.h"

namespace rt {
namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WaitFor(int fd, short events, int timeout_ms) {
  struct pollfd p = {fd, events, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeout_ms);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

int ConnectWithTimeout(const UrlParts& url) {
  struct addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  std::string port = std::to_string(url.port);
  if (::getaddrinfo(url.host.c_str(), port.c_str(), &hints, &found) != 0 || !found) return -1;
  int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ::freeaddrinfo(found);
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int r = ::connect(fd, found->ai_addr, found->ai_addrlen);
  ::freeaddrinfo(found);
  if (r != 0) {
    int error = 0;
    socklen_t len = sizeof error;
    if (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, kFetchConnectTimeoutMs) ||
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
      ::close(fd);
      return -1;
    }
  }
  ::fcntl(fd, F_SETFL, flags);
  return fd;
}

}  // namespace

Bytes FetchUrl(const Text& url) {
  UrlParts parts;
  if (!ParseFetchUrl(url, &parts) || parts.secure) return Bytes();  // no TLS here
  Fd fd(ConnectWithTimeout(parts));
  if (fd.get() < 0) return Bytes();

  std::string request = "GET " + parts.path + " HTTP/1.0\r\nHost: " + parts.host +
                        (parts.port != 80 ? ":" + std::to_string(parts.port) : std::string()) +
                        "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
                        "Accept: */*\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n\r\n";
  size_t sent = 0;
  while (sent < request.size()) {
    if (!WaitFor(fd.get(), POLLOUT, kFetchReceiveTimeoutMs)) return Bytes();
    ssize_t n = ::send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return Bytes();
    sent += static_cast<size_t>(n);
  }

  Bytes response;
  size_t body_start = 0;
  char buffer[16384];
  for (;;) {
    if (!WaitFor(fd.get(), POLLIN, kFetchReceiveTimeoutMs)) break;
    ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    response.insert(response.end(), buffer, buffer + n);
    if (body_start == 0) {
      static const char kEnd[] = "\r\n\r\n";
      auto it = std::search(response.begin(), response.end(), kEnd, kEnd + 4);
      if (it != response.end())
        body_start = static_cast<size_t>(it - response.begin()) + 4;
      else if (response.size() > kMaxHeaderBytes)
        return Bytes();
    }
  }
  if (body_start == 0) return Bytes();
  return Bytes(response.begin() + static_cast<std::ptrdiff_t>(body_start), response.end());
}

}  // namespace rt

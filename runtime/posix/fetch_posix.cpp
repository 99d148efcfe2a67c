// A small HTTP/1.0 client standing in for the operating system's HTTP
// service: one GET, the whole body, bounded connect and receive time-outs, a
// deadline for the whole fetch and a cap on the body.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "runtime/fetch.h"
#include "runtime/fetch_url.h"
#include "runtime/posix/unique_fd.h"

namespace rt {
namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;

using Clock = std::chrono::steady_clock;

// Milliseconds left before `deadline`, at most `cap`, 0 when it has passed.
int Remaining(Clock::time_point deadline, int cap) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left < cap ? static_cast<int>(left) : cap;
}

bool WaitFor(int fd, short events, int timeout_ms) {
  if (timeout_ms <= 0) return false;
  struct pollfd p = {fd, events, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeout_ms);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

int ConnectWithTimeout(const UrlParts& url, int timeout_ms) {
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
    if (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, timeout_ms) ||
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
      ::close(fd);
      return -1;
    }
  }
  ::fcntl(fd, F_SETFL, flags);
  return fd;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The status code of "HTTP/1.x ddd ...", 0 when the line is not one.
int StatusOf(const std::string& head) {
  if (head.size() < 12 || head.compare(0, 7, "HTTP/1.") != 0 || head[8] != ' ') return 0;
  int code = 0;
  for (int i = 9; i < 12; ++i) {
    if (head[i] < '0' || head[i] > '9') return 0;
    code = code * 10 + (head[i] - '0');
  }
  return code;
}

// The Content-Length of a head, -1 when absent or not a number.
long long ContentLengthOf(const std::string& head) {
  const std::string lowered = Lower(head);
  const size_t at = lowered.find("\r\ncontent-length:");
  if (at == std::string::npos) return -1;
  size_t i = at + 17;
  while (i < head.size() && (head[i] == ' ' || head[i] == '\t')) ++i;
  long long value = 0;
  size_t digits = 0;
  for (; i < head.size() && head[i] >= '0' && head[i] <= '9' && digits < 18; ++i, ++digits) {
    value = value * 10 + (head[i] - '0');
  }
  return digits == 0 ? -1 : value;
}

}  // namespace

FetchResult FetchUrl(const Text& url, const FetchLimits& limits) {
  FetchResult result;
  UrlParts parts;
  if (!ParseFetchUrl(url, &parts) || parts.secure) {  // no TLS here
    result.outcome = FetchOutcome::kBadUrl;
    return result;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limits.deadline_ms);
  const UniqueFd fd(ConnectWithTimeout(parts, Remaining(deadline, limits.connect_timeout_ms)));
  if (fd.get() < 0) {
    result.outcome = FetchOutcome::kUnreachable;
    return result;
  }

  std::string request = "GET " + parts.path + " HTTP/1.0\r\nHost: " + parts.host +
                        (parts.port != 80 ? ":" + std::to_string(parts.port) : std::string()) +
                        "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
                        "Accept: */*\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n\r\n";
  size_t sent = 0;
  result.outcome = FetchOutcome::kTimedOut;
  while (sent < request.size()) {
    if (!WaitFor(fd.get(), POLLOUT, Remaining(deadline, limits.receive_timeout_ms))) return result;
    ssize_t n = ::send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      result.outcome = FetchOutcome::kCutShort;
      return result;
    }
    sent += static_cast<size_t>(n);
  }

  // Bounded: every round waits at most the receive time-out and the whole
  // loop ends at the deadline; the stored bytes are capped.
  std::string head;
  Bytes body;
  bool head_done = false;
  long long announced = -1;
  char buffer[16384];
  for (;;) {
    if (!WaitFor(fd.get(), POLLIN, Remaining(deadline, limits.receive_timeout_ms))) {
      result.outcome = FetchOutcome::kTimedOut;
      return result;
    }
    ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.outcome = FetchOutcome::kCutShort;
      return result;
    }
    if (n == 0) break;
    if (!head_done) {
      head.append(buffer, static_cast<size_t>(n));
      const size_t end = head.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (head.size() > kMaxHeaderBytes) {
          result.outcome = FetchOutcome::kCutShort;
          return result;
        }
        continue;
      }
      head_done = true;
      result.status = StatusOf(head);
      if (result.status < 200 || result.status > 299) {
        result.outcome = FetchOutcome::kHttpError;
        return result;
      }
      announced = ContentLengthOf(head);
      if (announced > static_cast<long long>(limits.max_body_bytes)) {
        result.outcome = FetchOutcome::kTooLarge;
        return result;
      }
      body.assign(head.begin() + static_cast<std::ptrdiff_t>(end + 4), head.end());
      std::string().swap(head);
    } else {
      body.insert(body.end(), buffer, buffer + n);
    }
    if (body.size() > limits.max_body_bytes) {
      result.outcome = FetchOutcome::kTooLarge;
      return result;
    }
  }
  if (!head_done || (announced >= 0 && static_cast<long long>(body.size()) != announced)) {
    result.outcome = FetchOutcome::kCutShort;
    return result;
  }
  result.outcome = FetchOutcome::kOk;
  result.body.swap(body);
  return result;
}

}  // namespace rt

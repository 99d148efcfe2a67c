// A small HTTP/1.0 client standing in for the operating system's HTTP
// service: one GET, the whole body, bounded connect and receive waits, the
// time rules of FetchWatch over the head and the body, and a cap on the body.
// The steps: open (connect), send, read the head, read the body.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "runtime/fetch.h"
#include "runtime/fetch_url.h"
#include "runtime/fetch_watch.h"
#include "runtime/posix/unique_fd.h"
#include "runtime/process.h"
#include "runtime/text.h"

namespace rt {
namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;
constexpr size_t kReadChunk = 16384;

// Waits at most `timeout_ms` for `events`; false when it ran out.
bool WaitFor(int fd, short events, int timeout_ms) {
  if (timeout_ms <= 0) return false;
  struct pollfd p = {fd, events, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeout_ms);
  } while (r < 0 && errno == EINTR);
  return r > 0;
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
  const std::string lowered = rt::LowerAscii(head);
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

// Step 1: the connection, within the connect time-out.
FetchOutcome Open(const UrlParts& url, const FetchLimits& limits, UniqueFd* out) {
  struct addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  const std::string port = std::to_string(url.port);
  if (::getaddrinfo(url.host.c_str(), port.c_str(), &hints, &found) != 0 || !found) return FetchOutcome::kUnreachable;
  UniqueFd fd(::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) {
    ::freeaddrinfo(found);
    return FetchOutcome::kUnreachable;
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
  const int r = ::connect(fd.get(), found->ai_addr, found->ai_addrlen);
  ::freeaddrinfo(found);
  if (r != 0) {
    int error = 0;
    socklen_t len = sizeof error;
    if (errno != EINPROGRESS || !WaitFor(fd.get(), POLLOUT, limits.connect_timeout_ms) ||
        ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
      return FetchOutcome::kUnreachable;
    }
  }
  ::fcntl(fd.get(), F_SETFL, flags);
  *out = std::move(fd);
  return FetchOutcome::kOk;
}

// Step 2: the request, a plain HTTP/1.0 GET, byte for byte what the system's
// HTTP client sends for the Windows fetch (pinned by the fetch tests).
FetchOutcome Send(int fd, const UrlParts& url, const FetchLimits& limits) {
  const std::string request = "GET " + url.path + " HTTP/1.0\r\nHost: " + url.host +
                              (url.port != 80 ? ":" + std::to_string(url.port) : std::string()) +
                              "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
                              "Pragma: no-cache\r\nAccept: */*\r\n\r\n";
  // Bounded: every round sends at least a byte or ends.
  for (size_t sent = 0; sent < request.size();) {
    if (!WaitFor(fd, POLLOUT, limits.receive_timeout_ms)) return FetchOutcome::kTimedOut;
    const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return FetchOutcome::kCutShort;
    sent += static_cast<size_t>(n);
  }
  return FetchOutcome::kOk;
}

// One receive, waiting as long as the receive time-out and the stall window
// allow: the count received (0 at the end of the answer), or the failure.
// Bounded: a wait that runs out either ends the fetch or starts a new stall
// window, which only a window that had enough bytes can.
FetchOutcome Receive(int fd, const FetchLimits& limits, FetchWatch& watch, char* buffer, size_t size,
                     size_t* got) {
  for (;;) {
    const uint32_t window_left = watch.MsLeft(TickCount());
    const bool by_timeout = static_cast<uint32_t>(limits.receive_timeout_ms) <= window_left;
    if (WaitFor(fd, POLLIN, by_timeout ? limits.receive_timeout_ms : static_cast<int>(window_left))) {
      const ssize_t n = ::recv(fd, buffer, size, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return FetchOutcome::kCutShort;
      *got = static_cast<size_t>(n);
      return FetchOutcome::kOk;
    }
    const FetchOutcome rule = watch.Check(0, TickCount());
    if (rule != FetchOutcome::kOk) return rule;
    if (by_timeout) return FetchOutcome::kTimedOut;
  }
}

// Step 3: the answer's head, within the head's window. The bytes that came
// with it after the blank line start `body`.
FetchOutcome ReadHead(int fd, const FetchLimits& limits, FetchWatch& watch, FetchResult* result,
                      long long* announced, Bytes* body) {
  std::string head;
  char buffer[kReadChunk];
  // Bounded: every round ends, or receives, with the head capped; the stall
  // rule ends a head that trickles.
  for (;;) {
    size_t n = 0;
    const FetchOutcome got = Receive(fd, limits, watch, buffer, sizeof buffer, &n);
    if (got != FetchOutcome::kOk) return got;
    if (n == 0) return FetchOutcome::kCutShort;
    head.append(buffer, n);
    const size_t end = head.find("\r\n\r\n");
    if (end == std::string::npos) {
      if (head.size() > kMaxHeaderBytes) return FetchOutcome::kCutShort;
      const FetchOutcome rule = watch.Check(0, TickCount());
      if (rule != FetchOutcome::kOk) return rule;
      continue;
    }
    watch.HeadArrived(TickCount());
    result->status = StatusOf(head);
    if (result->status < 200 || result->status > 299) return FetchOutcome::kHttpError;
    *announced = ContentLengthOf(head);
    if (*announced > static_cast<long long>(limits.max_body_bytes)) return FetchOutcome::kTooLarge;
    body->assign(head.begin() + static_cast<std::ptrdiff_t>(end + 4), head.end());
    return FetchOutcome::kOk;
  }
}

// Step 4: the body, up to the announced length or the end of the
// connection, capped.
FetchOutcome ReadBody(int fd, const FetchLimits& limits, FetchWatch& watch, long long announced, Bytes* body) {
  char buffer[kReadChunk];
  // Bounded: every round ends, or receives and is counted against the cap
  // and the stall rule.
  for (;;) {
    if (body->size() > limits.max_body_bytes) return FetchOutcome::kTooLarge;
    if (announced >= 0 && static_cast<long long>(body->size()) >= announced) break;
    size_t n = 0;
    const FetchOutcome got = Receive(fd, limits, watch, buffer, sizeof buffer, &n);
    if (got != FetchOutcome::kOk) return got;
    if (n == 0) break;
    body->insert(body->end(), buffer, buffer + n);
    const FetchOutcome rule = watch.Check(static_cast<int64_t>(n), TickCount());
    if (rule != FetchOutcome::kOk) return rule;
  }
  if (announced >= 0 && static_cast<long long>(body->size()) != announced) return FetchOutcome::kCutShort;
  return FetchOutcome::kOk;
}

}  // namespace

FetchResult FetchUrl(const Text& url, const FetchLimits& limits) {
  FetchResult result;
  UrlParts parts;
  if (!ParseFetchUrl(url, &parts) || parts.secure) {  // no TLS here
    result.outcome = FetchOutcome::kBadUrl;
    return result;
  }
  UniqueFd fd;
  result.outcome = Open(parts, limits, &fd);
  if (result.outcome != FetchOutcome::kOk) return result;
  result.outcome = Send(fd.get(), parts, limits);
  if (result.outcome != FetchOutcome::kOk) return result;
  FetchWatch watch(limits, TickCount());
  long long announced = -1;
  Bytes body;
  result.outcome = ReadHead(fd.get(), limits, watch, &result, &announced, &body);
  if (result.outcome != FetchOutcome::kOk) return result;
  result.outcome = ReadBody(fd.get(), limits, watch, announced, &body);
  if (result.outcome == FetchOutcome::kOk) result.body.swap(body);
  return result;
}

}  // namespace rt

// Whole-body fetch through WinINet: bounded connect and receive time-outs,
// a deadline for the whole fetch and a cap on the body.
#include "runtime/win32/win.h"
#include <wininet.h>

#include "runtime/fetch.h"
#include "runtime/fetch_url.h"
#include "runtime/scoped_handle.h"

namespace rt {
namespace {

// Largest single read.
constexpr DWORD kMaxChunk = 102400;

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { InternetCloseHandle(h); }
};
using InternetHandle = ScopedHandle<InternetHandleTraits>;

void SetTimeouts(HINTERNET h, DWORD connect, DWORD receive) {
  InternetSetOptionA(h, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  InternetSetOptionA(h, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
  InternetSetOptionA(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
  InternetSetOptionA(h, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

// Milliseconds left before `deadline` (a tick count), at most `cap`, 0 when
// it has passed. Tick arithmetic is modular, so the wrap does no harm.
DWORD Remaining(DWORD deadline, int cap) {
  const LONG left = static_cast<LONG>(deadline - GetTickCount());
  if (left <= 0) return 0;
  return left < cap ? static_cast<DWORD>(left) : static_cast<DWORD>(cap);
}

bool QueryNumber(HINTERNET request, DWORD what, DWORD* value) {
  DWORD size = sizeof *value, index = 0;
  return HttpQueryInfoA(request, what | HTTP_QUERY_FLAG_NUMBER, value, &size, &index) != 0;
}

// A failed WinINet call as an outcome.
FetchOutcome FailureOf(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT: return FetchOutcome::kTimedOut;
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT: return FetchOutcome::kUnreachable;
    default: return FetchOutcome::kCutShort;
  }
}

}  // namespace

FetchResult FetchUrl(const Text& url, const FetchLimits& limits) {
  FetchResult result;
  UrlParts parts;
  if (!ParseFetchUrl(url, &parts)) {
    result.outcome = FetchOutcome::kBadUrl;
    return result;
  }
  const DWORD deadline = GetTickCount() + static_cast<DWORD>(limits.deadline_ms);
  result.outcome = FetchOutcome::kUnreachable;
  InternetHandle session(InternetOpenA("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
                                       INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session.get()) return result;
  SetTimeouts(session.get(), static_cast<DWORD>(limits.connect_timeout_ms),
              static_cast<DWORD>(limits.receive_timeout_ms));
  InternetHandle connection(InternetConnectA(session.get(), parts.host.c_str(), parts.port, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection.get()) return result;
  const char* accept[] = {"Accept: */* \r\n", nullptr};
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
  if (parts.secure) flags |= INTERNET_FLAG_SECURE;
  InternetHandle request(
      HttpOpenRequestA(connection.get(), "GET", parts.path.c_str(), "HTTP/1.0", nullptr, accept, flags, 0));
  if (!request.get()) return result;
  // Each handle keeps its own time-outs (Wine's WinINet takes a request's
  // receive time-out from the request, not from the session).
  SetTimeouts(connection.get(), static_cast<DWORD>(limits.connect_timeout_ms),
              static_cast<DWORD>(limits.receive_timeout_ms));
  SetTimeouts(request.get(), static_cast<DWORD>(limits.connect_timeout_ms),
              static_cast<DWORD>(limits.receive_timeout_ms));
  static const char kHeaders[] = "Accept: */*\r\n\r\n";
  const DWORD sent_at = GetTickCount();
  if (!HttpSendRequestA(request.get(), kHeaders, sizeof kHeaders - 1, nullptr, 0)) {
    const DWORD error = GetLastError();
    result.outcome = FailureOf(error);
    // Wine's WinINet ends a wait for the answer that ran out its time with
    // ERROR_INTERNET_CONNECTION_ABORTED rather than ERROR_INTERNET_TIMEOUT.
    if (error == ERROR_INTERNET_CONNECTION_ABORTED &&
        GetTickCount() - sent_at >= static_cast<DWORD>(limits.receive_timeout_ms)) {
      result.outcome = FetchOutcome::kTimedOut;
    }
    return result;
  }

  DWORD status = 0;
  if (!QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE, &status) || status == 0) {
    result.outcome = FetchOutcome::kCutShort;  // no answer's head
    return result;
  }
  result.status = static_cast<int>(status);
  if (result.status < 200 || result.status > 299) {
    result.outcome = FetchOutcome::kHttpError;
    return result;
  }
  DWORD length = 0;
  const bool has_length = QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH, &length);
  if (has_length && length > limits.max_body_bytes) {
    result.outcome = FetchOutcome::kTooLarge;
    return result;
  }
  // Bounded: every round waits at most the receive time-out, cut to what is
  // left of the deadline, and asks only for what has already arrived, so a
  // server that trickles bytes cannot stretch one read; the body is capped.
  Bytes body;
  Bytes buffer(kMaxChunk);
  for (;;) {
    const DWORD wait = Remaining(deadline, limits.receive_timeout_ms);
    if (wait == 0) {
      result.outcome = FetchOutcome::kTimedOut;
      return result;
    }
    InternetSetOptionA(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, const_cast<DWORD*>(&wait), sizeof wait);
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) {
      result.outcome = FailureOf(GetLastError());
      return result;
    }
    if (available == 0) break;  // the end of the body
    DWORD n = 0;
    const DWORD want = available < kMaxChunk ? available : kMaxChunk;
    if (!InternetReadFile(request.get(), buffer.data(), want, &n)) {
      result.outcome = FailureOf(GetLastError());
      return result;
    }
    if (n == 0) break;
    if (body.size() + n > limits.max_body_bytes) {
      result.outcome = FetchOutcome::kTooLarge;
      return result;
    }
    body.insert(body.end(), buffer.begin(), buffer.begin() + n);
  }
  if (has_length && body.size() != length) {
    result.outcome = FetchOutcome::kCutShort;
    return result;
  }
  result.outcome = FetchOutcome::kOk;
  result.body.swap(body);
  return result;
}

}  // namespace rt

// Whole-body fetch through WinINet: bounded connect and receive waits, the
// time rules of FetchWatch over the head and the body, and a cap on the body.
//
// The steps (open, send, read the head, read the body) run on a thread of
// their own while the calling thread watches the clock. A call that overruns
// its time (WinINet cannot bound a head that trickles: each byte resets its
// receive wait) is cut short by closing the request's handle, which makes a
// blocked call return on Windows. Wine's WinINet does not return from a
// blocked call when its handle is closed; then the fetch is given up after a
// grace period and its thread ends whenever the server lets it, freeing what
// it holds.
#include "runtime/win32/win.h"
#include <wininet.h>

#include <atomic>
#include <mutex>  // std::lock_guard
#include <utility>

#include "runtime/fetch.h"
#include "runtime/fetch_url.h"
#include "runtime/fetch_watch.h"
#include "runtime/scoped_handle.h"
#include "runtime/win32/slim_lock.h"
#include "runtime/win32/unique_handle.h"

namespace rt {
namespace {

// Largest single read.
constexpr DWORD kMaxChunk = 102400;
// Past a call's own time-out, how long before the watcher cuts it short.
constexpr DWORD kCallSlackMs = 2000;
// How long a call cut short gets to come back before the fetch is given up.
constexpr DWORD kCancelGraceMs = 2000;

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { InternetCloseHandle(h); }
};
using InternetHandle = ScopedHandle<InternetHandleTraits>;

// The request's handle, which the watching thread may close to end a call
// that overran. It is closed once, and by the watcher only while a call is
// running on it: between calls the running thread sees the cancel and makes
// no further call, so a handle value the system hands out again is never
// touched.
class RequestSlot {
 public:
  RequestSlot() = default;
  RequestSlot(const RequestSlot&) = delete;
  RequestSlot& operator=(const RequestSlot&) = delete;
  ~RequestSlot() { Close(); }

  void Set(HINTERNET request) { request_ = request; }
  HINTERNET get() const { return request_; }
  // Before a call on the handle: false when the fetch was cancelled.
  bool Enter() {
    std::lock_guard<SlimLock> lock(lock_);
    if (cancelled_ || closed_) return false;
    in_call_ = true;
    return true;
  }
  void Leave() {
    std::lock_guard<SlimLock> lock(lock_);
    in_call_ = false;
  }
  bool Cancelled() {
    std::lock_guard<SlimLock> lock(lock_);
    return cancelled_;
  }
  // The watcher's side: no further call, and the running one cut short.
  void Cancel() {
    HINTERNET close = nullptr;
    {
      std::lock_guard<SlimLock> lock(lock_);
      cancelled_ = true;
      if (in_call_ && !closed_ && request_ != nullptr) {
        closed_ = true;
        close = request_;
      }
    }
    if (close != nullptr) InternetCloseHandle(close);
  }
  // The running thread's side, at the end.
  void Close() {
    HINTERNET close = nullptr;
    {
      std::lock_guard<SlimLock> lock(lock_);
      if (!closed_ && request_ != nullptr) close = request_;
      closed_ = true;
    }
    if (close != nullptr) InternetCloseHandle(close);
  }

 private:
  SlimLock lock_;
  HINTERNET request_ = nullptr;
  bool in_call_ = false;
  bool cancelled_ = false;
  bool closed_ = false;
};

// One fetch, shared by the thread that runs its steps and the caller that
// watches it; the last of the two to let go deletes it.
struct FetchJob {
  FetchJob(const UrlParts& url_parts, const FetchLimits& fetch_limits)
      : parts(url_parts), limits(fetch_limits), done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  void Release() {
    if (owners.fetch_sub(1) == 1) delete this;
  }
  // The call about to run must have returned `ms` from now.
  void Allow(DWORD ms) { deadline.store(GetTickCount() + ms); }

  const UrlParts parts;
  const FetchLimits limits;
  FetchResult result;  // written by the running thread before `done` is set
  UniqueHandle done;   // a manual-reset event
  std::atomic<DWORD> deadline{0};
  RequestSlot request;
  std::atomic<int> owners{2};
};

void SetTimeouts(HINTERNET h, DWORD connect, DWORD receive) {
  InternetSetOptionA(h, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  InternetSetOptionA(h, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
  InternetSetOptionA(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
  InternetSetOptionA(h, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &receive, sizeof receive);
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

// Step 1: the session and the connection's handle (WinINet connects when
// the request is sent).
FetchOutcome Open(FetchJob& job, InternetHandle* session, InternetHandle* connection) {
  const DWORD connect = static_cast<DWORD>(job.limits.connect_timeout_ms);
  const DWORD receive = static_cast<DWORD>(job.limits.receive_timeout_ms);
  session->reset(InternetOpenA("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)", INTERNET_OPEN_TYPE_PRECONFIG,
                               nullptr, nullptr, 0));
  if (!*session) return FetchOutcome::kUnreachable;
  SetTimeouts(session->get(), connect, receive);
  connection->reset(InternetConnectA(session->get(), job.parts.host.c_str(), job.parts.port, nullptr, nullptr,
                                     INTERNET_SERVICE_HTTP, 0, 0));
  if (!*connection) return FetchOutcome::kUnreachable;
  // Each handle keeps its own time-outs (Wine's WinINet takes a request's
  // receive time-out from the request, not from the session).
  SetTimeouts(connection->get(), connect, receive);
  const char* accept[] = {"Accept: */* \r\n", nullptr};
  // Never answered from a cache: RELOAD keeps the system's own cache out,
  // PRAGMA_NOCACHE ("Pragma: no-cache") a caching proxy's, which would
  // otherwise hand out the list it holds for hours after a release (players
  // behind an HTTP proxy get the list through it). The request's bytes are
  // pinned by the fetch tests.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
  if (job.parts.secure) flags |= INTERNET_FLAG_SECURE;
  const HINTERNET request =
      HttpOpenRequestA(connection->get(), "GET", job.parts.path.c_str(), "HTTP/1.0", nullptr, accept, flags, 0);
  if (request == nullptr) return FetchOutcome::kUnreachable;
  job.request.Set(request);
  SetTimeouts(request, connect, receive);
  return FetchOutcome::kOk;
}

// Step 2: the request out and the answer's head in: one call, which connects
// as well. The watcher allows it the connect time-out and one stall window.
FetchOutcome Send(FetchJob& job) {
  static const char kHeaders[] = "Accept: */*\r\n\r\n";
  const DWORD sent_at = GetTickCount();
  job.Allow(static_cast<DWORD>(job.limits.connect_timeout_ms) + static_cast<DWORD>(job.limits.stall_window_ms));
  if (!job.request.Enter()) return FetchOutcome::kStalled;
  const BOOL sent = HttpSendRequestA(job.request.get(), kHeaders, sizeof kHeaders - 1, nullptr, 0);
  const DWORD error = GetLastError();
  job.request.Leave();
  if (sent) return FetchOutcome::kOk;
  if (job.request.Cancelled()) return FetchOutcome::kStalled;
  // Wine's WinINet ends a wait for the answer that ran out its time with
  // ERROR_INTERNET_CONNECTION_ABORTED rather than ERROR_INTERNET_TIMEOUT.
  if (error == ERROR_INTERNET_CONNECTION_ABORTED &&
      GetTickCount() - sent_at >= static_cast<DWORD>(job.limits.receive_timeout_ms)) {
    return FetchOutcome::kTimedOut;
  }
  return FailureOf(error);
}

// Step 3: what the head says: the status and the announced length.
FetchOutcome ReadHead(FetchJob& job, bool* has_length, DWORD* length) {
  job.Allow(kCallSlackMs);
  if (!job.request.Enter()) return FetchOutcome::kStalled;
  DWORD status = 0;
  const bool has_status = QueryNumber(job.request.get(), HTTP_QUERY_STATUS_CODE, &status) && status != 0;
  *has_length = QueryNumber(job.request.get(), HTTP_QUERY_CONTENT_LENGTH, length);
  job.request.Leave();
  if (!has_status) return FetchOutcome::kCutShort;  // no answer's head
  job.result.status = static_cast<int>(status);
  if (job.result.status < 200 || job.result.status > 299) return FetchOutcome::kHttpError;
  if (*has_length && *length > job.limits.max_body_bytes) return FetchOutcome::kTooLarge;
  return FetchOutcome::kOk;
}

// One wait for body bytes and their read, as long as the receive time-out
// and the stall window allow: the count read (0 at the end), or the failure.
// Bounded: a wait that runs out either ends the fetch or starts a new stall
// window, which only a window that had enough bytes can.
FetchOutcome ReadSome(FetchJob& job, FetchWatch& watch, Bytes& buffer, DWORD* got) {
  for (;;) {
    const DWORD window_left = watch.MsLeft(GetTickCount());
    const DWORD receive = static_cast<DWORD>(job.limits.receive_timeout_ms);
    const bool by_timeout = receive <= window_left;
    const DWORD wait = by_timeout ? receive : (window_left > 0 ? window_left : 1);
    job.Allow(wait + kCallSlackMs);
    if (!job.request.Enter()) return FetchOutcome::kStalled;
    InternetSetOptionA(job.request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, const_cast<DWORD*>(&wait), sizeof wait);
    // Asks only for what has already arrived, so a trickle cannot stretch a read.
    DWORD available = 0;
    BOOL ok = InternetQueryDataAvailable(job.request.get(), &available, 0, 0);
    DWORD error = GetLastError();
    *got = 0;
    if (ok && available > 0) {
      ok = InternetReadFile(job.request.get(), buffer.data(), available < kMaxChunk ? available : kMaxChunk, got);
      error = GetLastError();
    }
    job.request.Leave();
    if (ok) return FetchOutcome::kOk;
    if (job.request.Cancelled()) return FetchOutcome::kStalled;
    const FetchOutcome failure = FailureOf(error);
    if (failure != FetchOutcome::kTimedOut) return failure;
    const FetchOutcome rule = watch.Check(0, GetTickCount());
    if (rule != FetchOutcome::kOk) return rule;
    if (by_timeout) return FetchOutcome::kTimedOut;
  }
}

// Step 4: the body, to its end or the announced length, capped.
FetchOutcome ReadBody(FetchJob& job, FetchWatch& watch, bool has_length, DWORD length, Bytes* body) {
  Bytes buffer(kMaxChunk);
  // Bounded: every round ends, or reads and is counted against the cap and
  // the stall rule.
  for (;;) {
    if (has_length && body->size() >= length) break;
    DWORD n = 0;
    const FetchOutcome got = ReadSome(job, watch, buffer, &n);
    if (got != FetchOutcome::kOk) return got;
    if (n == 0) break;  // the end of the body
    if (body->size() + n > job.limits.max_body_bytes) return FetchOutcome::kTooLarge;
    body->insert(body->end(), buffer.begin(), buffer.begin() + n);
    const FetchOutcome rule = watch.Check(n, GetTickCount());
    if (rule != FetchOutcome::kOk) return rule;
  }
  if (has_length && body->size() != length) return FetchOutcome::kCutShort;
  return FetchOutcome::kOk;
}

// The steps in order; the request's handle is closed before the
// connection's and the session's.
FetchOutcome RunSteps(FetchJob& job) {
  InternetHandle session, connection;
  FetchOutcome outcome = Open(job, &session, &connection);
  // The total deadline counts from the request, which connects as well.
  FetchWatch watch(job.limits, GetTickCount());
  if (outcome == FetchOutcome::kOk) outcome = Send(job);
  bool has_length = false;
  DWORD length = 0;
  if (outcome == FetchOutcome::kOk) outcome = ReadHead(job, &has_length, &length);
  watch.HeadArrived(GetTickCount());
  Bytes body;
  if (outcome == FetchOutcome::kOk) outcome = ReadBody(job, watch, has_length, length, &body);
  if (outcome == FetchOutcome::kOk) job.result.body.swap(body);
  job.request.Close();
  return outcome;
}

DWORD WINAPI FetchThread(LPVOID parameter) {
  FetchJob& job = *static_cast<FetchJob*>(parameter);
  job.result.outcome = RunSteps(job);
  SetEvent(job.done.get());
  job.Release();
  return 0;
}

// The caller's side: waits for the steps while each call keeps its time;
// cuts short a call that overran, and gives the fetch up when the cut call
// does not come back.
FetchResult Watch(FetchJob* job) {
  // Bounded: every round ends the wait, or finds the deadline moved on by a
  // call that returned in time (the steps' own rules bound those), or cuts
  // the fetch short.
  for (;;) {
    const LONG left = static_cast<LONG>(job->deadline.load() - GetTickCount());
    if (left > 0) {
      if (WaitForSingleObject(job->done.get(), static_cast<DWORD>(left)) == WAIT_OBJECT_0) break;
      continue;
    }
    job->request.Cancel();
    if (WaitForSingleObject(job->done.get(), kCancelGraceMs) == WAIT_OBJECT_0) break;
    FetchResult given_up;
    given_up.outcome = FetchOutcome::kStalled;
    job->Release();
    return given_up;
  }
  FetchResult result = std::move(job->result);
  job->Release();
  return result;
}

}  // namespace

FetchResult FetchUrl(const Text& url, const FetchLimits& limits) {
  UrlParts parts;
  if (!ParseFetchUrl(url, &parts)) {
    FetchResult bad;
    bad.outcome = FetchOutcome::kBadUrl;
    return bad;
  }
  FetchJob* job = new FetchJob(parts, limits);
  // Opening the handles does not wait for the server; the system may look up
  // its proxy setting meanwhile.
  job->Allow(static_cast<DWORD>(limits.connect_timeout_ms) + kCallSlackMs);
  const UniqueHandle thread(job->done ? CreateThread(nullptr, 0, FetchThread, job, 0, nullptr) : nullptr);
  if (!thread) {
    // No thread to run it on: on this one, without a watcher.
    job->owners.store(1);
    job->result.outcome = RunSteps(*job);
    FetchResult result = std::move(job->result);
    job->Release();
    return result;
  }
  return Watch(job);
}

}  // namespace rt

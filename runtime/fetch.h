#pragma once
// Whole-body HTTP fetch through the operating system's HTTP client (WinINet
// on Windows; a small HTTP/1.0 client of our own on POSIX), bounded in time
// and size, so that a dead, slow or hostile server can hold the window thread
// for a stated time only and never take all memory.
#include <cstddef>
#include <cstdint>

#include "runtime/types.h"

namespace rt {

// Connect and receive time-outs (each wait for the server).
constexpr int kFetchConnectTimeoutMs = 10000;
constexpr int kFetchReceiveTimeoutMs = 15000;
// The whole fetch, from the first connect to the last byte.
constexpr int kFetchDeadlineMs = 60000;
// Largest body accepted; a larger one is no usable answer.
constexpr size_t kFetchMaxBodyBytes = 16u * 1024u * 1024u;

struct FetchLimits {
  int connect_timeout_ms = kFetchConnectTimeoutMs;
  int receive_timeout_ms = kFetchReceiveTimeoutMs;
  int deadline_ms = kFetchDeadlineMs;
  size_t max_body_bytes = kFetchMaxBodyBytes;
};

enum class FetchOutcome {
  kOk,           // a 2xx answer, the whole body
  kBadUrl,       // the URL cannot be parsed (or names a scheme this build cannot fetch)
  kUnreachable,  // not resolved, refused, or the connect timed out
  kTimedOut,     // a receive time-out or the whole fetch's deadline passed
  kCutShort,     // the connection ended before the answer was complete
  kHttpError,    // an answer with a status other than 2xx (see status)
  kTooLarge,     // the body is larger than max_body_bytes
};

struct FetchResult {
  FetchOutcome outcome = FetchOutcome::kUnreachable;
  int status = 0;  // the HTTP status when an answer's head arrived, else 0
  Bytes body;      // the whole body when outcome is kOk, else empty

  bool ok() const { return outcome == FetchOutcome::kOk; }
  // Whether trying again later may succeed: the server could not be
  // reached, was too slow, broke off, or answered 5xx. A bad URL, a 4xx and
  // an oversized list are final.
  bool transient() const;
};

// The enumerator's name ("Ok", "TimedOut", ...).
const char* ToString(FetchOutcome outcome);

// One GET of `url`; every failure is a result, never a partial body.
FetchResult FetchUrl(const Text& url, const FetchLimits& limits = FetchLimits());

}  // namespace rt

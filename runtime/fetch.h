#pragma once
// Whole-body HTTP fetch through the operating system's HTTP client (WinINet
// on Windows; a small HTTP/1.0 client of our own on POSIX), bounded in time
// and size, so that a dead, slow or hostile server can hold it for a stated
// time only and never take all memory.
//
// The time rules (FetchWatch): a stall rule and a total deadline that grows
// with the bytes received. The answer's head must be complete within one
// stall window of the request; from then on every window must bring at least
// stall_min_bytes of the body, and the whole fetch must end within
// base_deadline_ms of the request plus ms_per_kib for every KiB of body
// received. So a list that keeps coming at the floor rate or faster loads
// however long it is (up to the size cap): with the defaults, 4 KiB/s (the
// floor of the patch files) after a head start of 30 s; a 2 MiB list at
// 20 KiB/s does. One that stops fails within two windows (40 s), and one that
// drips just fast enough for the stall rule ends soon after the head start
// (200 bytes a second: at 31.6 s). Each single wait for the server is bounded
// by its time-out as well.
#include <cstddef>
#include <cstdint>

#include "runtime/types.h"

namespace rt {

// Connect and receive time-outs (each wait for the server).
constexpr int kFetchConnectTimeoutMs = 10000;
constexpr int kFetchReceiveTimeoutMs = 15000;
// The stall rule: the head within one window, at least kFetchStallMinBytes
// of the body in every window after it (a floor of about 200 bytes a second).
constexpr int kFetchStallWindowMs = 20000;
constexpr int64_t kFetchStallMinBytes = 4096;
// The total deadline: the connection and the head's window, then 250 ms more
// for every KiB received (a floor of 4 KiB/s on average).
constexpr int kFetchBaseDeadlineMs = kFetchConnectTimeoutMs + kFetchStallWindowMs;
constexpr int kFetchMsPerKiB = 250;
// Largest body accepted; a larger one is no usable answer.
constexpr size_t kFetchMaxBodyBytes = 16u * 1024u * 1024u;

struct FetchLimits {
  int connect_timeout_ms = kFetchConnectTimeoutMs;
  int receive_timeout_ms = kFetchReceiveTimeoutMs;
  int stall_window_ms = kFetchStallWindowMs;
  int64_t stall_min_bytes = kFetchStallMinBytes;
  int base_deadline_ms = kFetchBaseDeadlineMs;
  int ms_per_kib = kFetchMsPerKiB;
  size_t max_body_bytes = kFetchMaxBodyBytes;
};

enum class FetchOutcome {
  kOk,           // a 2xx answer, the whole body
  kBadUrl,       // the URL cannot be parsed (or names a scheme this build cannot fetch)
  kUnreachable,  // not resolved, refused, or the connect timed out
  kTimedOut,     // a single wait for the server ran out its receive time-out
  kStalled,      // the head did not come within a stall window, or the body trickled below the floor
  kTooSlow,      // the total deadline ran out: the body came on average below the floor rate
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

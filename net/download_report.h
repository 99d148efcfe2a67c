#pragma once
// What one download call did: its result code, why it failed (a result code
// alone says Interrupted for a refused connection, a reset, a time-out and a
// stall alike), and the figures the log wants.
#include <cstdint>
#include <string>

#include "net/download_result.h"
#include "net/proxy_route.h"

namespace net {

enum class FailReason : int32_t {
  kNone = 0,
  kSocketFailed,      // no socket could be made (system_error)
  kBindFailed,        // the socket could not be bound (system_error)
  kHostNotFound,      // the name did not resolve
  kRefused,           // the server refused the connection
  kConnectTimedOut,   // the connection attempt timed out
  kConnectFailed,     // any other connect failure (system_error)
  kSendFailed,        // the request could not be sent (system_error)
  kNoAnswer,          // nothing arrived within the receive wait (wait_ms)
  kTimedOut,          // nothing more arrived within the receive wait (wait_ms, received)
  kClosed,            // the server closed the connection early (received)
  kReset,             // the connection was reset (received)
  kReceiveFailed,     // any other receive failure (system_error, received)
  kStalled,           // too little arrived in the stall window (window_bytes, wait_ms)
  kBelowFloorRate,    // the average over the floor window was too low (window_bytes, wait_ms)
  kHttpStatus,        // a status the engine does not take (http_status)
  kNotHttp,           // the answer does not start with an HTTP/1.x status line
  kHeadTooLarge,      // the header block passed kMaxHeaderBytes
  kBadContentLength,  // Content-Length not a number in 0..2^63-1, or repeated unequal
  kBadContentRange,   // a 206 whose Content-Range is missing or does not fit the request
  kTooLarge,          // the whole size would pass 2^63-1 (stated_size)
  kSizeDiffers,       // the whole size is not the expected one (stated_size, expected_size)
  kMalformedBody,     // a chunked body that breaks the coding
  kSizeUnknown,       // a body without a stated size that ended elsewhere (received)
  kDiskFull,          // a write found the disk full (system_error)
  kCannotWrite,       // a write failed otherwise (system_error)
  kCannotOpen,        // the partial file could not be opened, or its bytes read back
  kCannotInstall,     // the complete file could not replace the target
  kProxyCredentials,  // the proxy answered 407
  kCancelled,         // the caller cancelled the call (received)
};

// The reason's name ("Refused", "Stalled", ...).
const char* ToString(FailReason reason);

struct DownloadReport {
  DownloadReport() = default;
  // A report that says only its result (tests and callers that fake the engine).
  DownloadReport(DownloadResult result) : result(result) {}  // NOLINT: implicit on purpose

  DownloadResult result = DownloadResult::Ok;
  FailReason reason = FailReason::kNone;
  int64_t received = 0;       // body bytes that arrived in this call
  int32_t http_status = 0;    // status of the last answer; 0 when no head arrived
  int32_t system_error = 0;   // the socket or file error behind the reason
  int64_t window_bytes = 0;   // stall or floor: what the window held
  uint32_t wait_ms = 0;       // the receive wait, or the window's length
  int64_t stated_size = -1;   // the whole size the answer stated
  int64_t expected_size = -1;  // the size the caller expected
  int32_t connection_id = 0;  // the caller's connection object; 0 without one
  bool reused = false;        // it had carried an earlier response
  bool sent_ahead = false;    // the answer read was to a request sent ahead (SendAhead)
  bool resumed = false;       // the request asked for the rest of a partial file
  int64_t resumed_from = 0;   // the range start of that request
  // The kept part was already the whole resource (a 416 stating its size):
  // Ok without a body; the caller moves it into place.
  bool kept_complete = false;
  ProxyIssue proxy_issue = ProxyIssue::kNone;  // the user's proxy setting could not be followed

  bool ok() const { return result == DownloadResult::Ok; }
};

// The reason as a phrase for the log: "reset after 1200 bytes", "stalled
// (300 bytes in 30 s)", "HTTP status 404", "disk full"; empty for kNone.
std::string Describe(const DownloadReport& report);
// One line for the log: "Interrupted (8): reset after 1200 bytes; connection
// 2, reused", or "Ok (0); connection 2, new".
std::string ToString(const DownloadReport& report);

}  // namespace net

#include "net/download_report.h"

#include <cstdio>

namespace net {
namespace {

std::string Seconds(uint32_t ms) {
  char text[32];
  if (ms % 1000 == 0) {
    std::snprintf(text, sizeof text, "%u s", static_cast<unsigned>(ms / 1000));
  } else {
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000);
  }
  return text;
}

std::string Bytes(int64_t n) { return std::to_string(n) + " bytes"; }

}  // namespace

const char* ToString(FailReason reason) {
  switch (reason) {
    case FailReason::kNone: return "None";
    case FailReason::kSocketFailed: return "SocketFailed";
    case FailReason::kBindFailed: return "BindFailed";
    case FailReason::kHostNotFound: return "HostNotFound";
    case FailReason::kRefused: return "Refused";
    case FailReason::kConnectTimedOut: return "ConnectTimedOut";
    case FailReason::kConnectFailed: return "ConnectFailed";
    case FailReason::kSendFailed: return "SendFailed";
    case FailReason::kNoAnswer: return "NoAnswer";
    case FailReason::kTimedOut: return "TimedOut";
    case FailReason::kClosed: return "Closed";
    case FailReason::kReset: return "Reset";
    case FailReason::kReceiveFailed: return "ReceiveFailed";
    case FailReason::kStalled: return "Stalled";
    case FailReason::kBelowFloorRate: return "BelowFloorRate";
    case FailReason::kHttpStatus: return "HttpStatus";
    case FailReason::kNotHttp: return "NotHttp";
    case FailReason::kHeadTooLarge: return "HeadTooLarge";
    case FailReason::kBadContentLength: return "BadContentLength";
    case FailReason::kBadContentRange: return "BadContentRange";
    case FailReason::kTooLarge: return "TooLarge";
    case FailReason::kSizeDiffers: return "SizeDiffers";
    case FailReason::kMalformedBody: return "MalformedBody";
    case FailReason::kSizeUnknown: return "SizeUnknown";
    case FailReason::kDiskFull: return "DiskFull";
    case FailReason::kCannotWrite: return "CannotWrite";
    case FailReason::kCannotOpen: return "CannotOpen";
    case FailReason::kCannotInstall: return "CannotInstall";
    case FailReason::kProxyCredentials: return "ProxyCredentials";
    case FailReason::kCancelled: return "Cancelled";
  }
  return "Unknown";
}

std::string Describe(const DownloadReport& r) {
  const std::string error = " (system error " + std::to_string(r.system_error) + ")";
  switch (r.reason) {
    case FailReason::kNone: return std::string();
    case FailReason::kSocketFailed: return "cannot make a socket" + error;
    case FailReason::kBindFailed: return "cannot bind the socket" + error;
    case FailReason::kHostNotFound: return "host not found";
    case FailReason::kRefused: return "connection refused";
    case FailReason::kConnectTimedOut: return "connect timed out";
    case FailReason::kConnectFailed: return "cannot connect" + error;
    case FailReason::kSendFailed: return "request not sent" + error;
    case FailReason::kNoAnswer: return "no answer in " + Seconds(r.wait_ms);
    case FailReason::kTimedOut: return "no data in " + Seconds(r.wait_ms) + " after " + Bytes(r.received);
    case FailReason::kClosed: return "closed after " + Bytes(r.received);
    case FailReason::kReset: return "reset after " + Bytes(r.received);
    case FailReason::kReceiveFailed: return "receive failed" + error + " after " + Bytes(r.received);
    case FailReason::kStalled: return "stalled (" + Bytes(r.window_bytes) + " in " + Seconds(r.wait_ms) + ")";
    case FailReason::kBelowFloorRate:
      return "below the floor rate (" + Bytes(r.window_bytes) + " in " + Seconds(r.wait_ms) + ")";
    case FailReason::kHttpStatus: return "HTTP status " + std::to_string(r.http_status);
    case FailReason::kNotHttp: return "no HTTP status line";
    case FailReason::kHeadTooLarge: return "response head too large";
    case FailReason::kBadContentLength: return "bad Content-Length";
    case FailReason::kBadContentRange: return "bad Content-Range";
    case FailReason::kTooLarge: return "too large";
    case FailReason::kSizeDiffers:
      return "size " + std::to_string(r.stated_size) + ", expected " + std::to_string(r.expected_size);
    case FailReason::kMalformedBody: return "malformed chunked body";
    case FailReason::kSizeUnknown: return "body without a stated size (" + Bytes(r.received) + ")";
    case FailReason::kDiskFull: return "disk full";
    case FailReason::kCannotWrite: return "cannot write" + error;
    case FailReason::kCannotOpen: return "cannot open the partial file";
    case FailReason::kCannotInstall: return "cannot replace the target";
    case FailReason::kProxyCredentials: return "the proxy asks for credentials (407)";
    case FailReason::kCancelled: return "cancelled after " + Bytes(r.received);
  }
  return "unknown reason";
}

std::string ToString(const DownloadReport& r) {
  std::string line = std::string(ToString(r.result)) + " (" + std::to_string(static_cast<int32_t>(r.result)) + ")";
  const std::string why = Describe(r);
  if (!why.empty()) line += ": " + why;
  if (r.connection_id != 0) {
    line += "; connection " + std::to_string(r.connection_id) + (r.reused ? ", reused" : ", new");
  }
  if (r.proxy_issue != ProxyIssue::kNone) line += std::string("; proxy not followed: ") + ToString(r.proxy_issue);
  return line;
}

}  // namespace net

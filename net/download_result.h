#pragma once
// Result codes of HttpDownload. The numbers are part of the interface: callers
// and tools compare and print them.
#include <cstdint>

namespace net {

enum class DownloadResult : int32_t {
  Ok = 0,              // file complete and in place, memory target done, or headers read
  SocketFailed = 1,    // the socket could not be created
  BindFailed = 2,      // the socket could not be bound to a local address
  ConnectFailed = 3,   // host not resolved, connection refused or timed out
  SendFailed = 4,      // the request could not be sent
  SizeMismatch = 5,    // the body was malformed or its size unknowable; the partial file is deleted
  BadStatus = 6,       // the response was refused before any body byte was written
  InstallFailed = 7,   // the file is complete but could not replace the target; the partial file stays
  Interrupted = 8,     // the transfer ended before the body's end (connection closed, receive
                       // wait ran out, or stalled); the partial file keeps what arrived
  WriteFailed = 9,     // the partial file could not be opened or written; it is deleted
  ServerError = 10,    // a 5xx answer; the partial file is left as it was
  ProxyAuthRequired = 11,  // the user's HTTP proxy answered 407: it wants credentials
};

// The enumerator's name ("Ok", "SizeMismatch", ...); "Unknown" for other values.
const char* ToString(DownloadResult result);

}  // namespace net

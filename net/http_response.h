#pragma once
// Reading the head (status line and header fields) of an HTTP/1.x response.
// Header names compare without case and blanks around values are dropped
// (RFC 9112 section 5); only CR LF ends a line.
#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

// Largest header block the engine buffers before it gives up on a response.
constexpr size_t kMaxHeaderBytes = 65536;

// Where the header block ends: the offset just past its "\r\n\r\n", or 0 when
// the block is not complete yet.
size_t FindHeaderEnd(const std::string& data);

enum class StatusCheck { kIncomplete, kSuccess, kRefused };

// Whether the received bytes start with "HTTP/1.0" or "HTTP/1.1", a blank and
// a 2xx status code. kIncomplete while the bytes so far could still start
// such a line.
StatusCheck CheckStatusLine(const std::string& data);

// The code of a status line "HTTP/1.0" or "HTTP/1.1", a blank, three digits
// and a blank or the line end, whatever the code: 0 while the bytes so far
// could still start such a line, -1 when they cannot.
int StatusCodeOf(const std::string& data);

struct ResponseHead {
  int status = 0;
  // The status line's "HTTP/1.x": 0 or 1.
  int minor_version = 1;
  // Content-Length: absent, or present and valid (0..2^63-1, digits only,
  // repeated values equal), or present and invalid.
  bool has_content_length = false;
  bool content_length_valid = true;
  int64_t content_length = 0;
  // Content-Range "bytes first-last/complete" (or "bytes first-last/*", then
  // range_complete is -1).
  bool has_content_range = false;
  bool content_range_valid = false;
  int64_t range_first = 0;
  int64_t range_last = 0;
  int64_t range_complete = -1;
  // The form of a 416 answer, "bytes */complete": its complete length, else -1.
  int64_t unsatisfied_complete = -1;
  // Transfer-Encoding whose last coding is "chunked".
  bool chunked = false;
  // The tokens "close" and "keep-alive" of a Connection (or Proxy-Connection) field.
  bool connection_close = false;
  bool connection_keep_alive = false;
};

// Whether the connection may carry another request after this response
// (RFC 9112 section 9.3): HTTP/1.1 unless the server said "close"; HTTP/1.0
// only when it said "keep-alive" and its body has a Content-Length (the
// only framing 1.0 knows besides the end of the connection).
bool KeepsConnection(const ResponseHead& head);

// Parses a complete header block (status line included, up to its end as
// FindHeaderEnd gives it). False when the status line is not a valid one.
bool ParseResponseHead(const std::string& head, ResponseHead* out);

// Parses a complete header block of a 416 answer (RFC 9110 section 15.5.17);
// false for any other status.
bool ParseRangeNotSatisfiable(const std::string& head, ResponseHead* out);

}  // namespace net

#include "net/http_response.h"
#include "runtime/text.h"

#include <limits>

namespace net {
namespace {

constexpr int64_t kMaxContentLength = std::numeric_limits<int64_t>::max();

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// A run of decimal digits and nothing else; false when empty, not all
// digits, or above `limit` (checked before each step, so nothing overflows).
bool ParseDecimal(const std::string& text, int64_t limit, int64_t* value) {
  if (text.empty()) return false;
  int64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const int digit = c - '0';
    if (result > (limit - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

// "bytes first-last/complete" with complete "*" allowed, or "bytes */complete"
// (the form of a 416 answer). The whole form must be well made.
void ParseContentRange(const std::string& value, ResponseHead* out) {
  out->content_range_valid = false;
  out->unsatisfied_complete = -1;
  const std::string lowered = rt::LowerAscii(value);
  if (lowered.compare(0, 6, "bytes ") != 0) return;
  const std::string range_text = Trim(value.substr(6));
  const int64_t limit = std::numeric_limits<int64_t>::max();
  if (range_text.compare(0, 2, "*/") == 0) {
    int64_t complete = 0;
    if (ParseDecimal(range_text.substr(2), limit, &complete)) out->unsatisfied_complete = complete;
    return;
  }
  const size_t dash = range_text.find('-');
  const size_t slash = range_text.find('/');
  if (dash == std::string::npos || slash == std::string::npos || slash < dash) return;
  int64_t start = 0;
  int64_t last = 0;
  if (!ParseDecimal(range_text.substr(0, dash), limit, &start)) return;
  if (!ParseDecimal(range_text.substr(dash + 1, slash - dash - 1), limit, &last)) return;
  if (last < start) return;
  const std::string complete = range_text.substr(slash + 1);
  int64_t length = -1;
  if (complete != "*" && (!ParseDecimal(complete, limit, &length) || length <= last)) return;
  out->content_range_valid = true;
  out->range_first = start;
  out->range_last = last;
  out->range_complete = length;
}

// The last coding decides whether the body is chunked (RFC 9112 section 6.3).
bool EndsWithChunked(const std::string& value) {
  const size_t comma = value.rfind(',');
  const std::string last = Trim(comma == std::string::npos ? value : value.substr(comma + 1));
  return rt::LowerAscii(last) == "chunked";
}

// The tokens of a Connection field (RFC 9110 section 7.6.1): "close" ends the
// connection after this response, "keep-alive" keeps an HTTP/1.0 one.
void ReadConnectionTokens(const std::string& value, ResponseHead* out) {
  size_t start = 0;
  // Bounded: every round moves past one comma or ends.
  while (start <= value.size()) {
    size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    const std::string token = rt::LowerAscii(Trim(value.substr(start, comma - start)));
    if (token == "close") out->connection_close = true;
    if (token == "keep-alive") out->connection_keep_alive = true;
    start = comma + 1;
  }
}

void ReadField(const std::string& name, const std::string& value, ResponseHead* out) {
  if (name == "content-length") {
    int64_t length = 0;
    if (!ParseDecimal(value, kMaxContentLength, &length) ||
        (out->has_content_length && length != out->content_length)) {
      out->content_length_valid = false;
    }
    out->has_content_length = true;
    out->content_length = length;
  } else if (name == "content-range") {
    out->has_content_range = true;
    ParseContentRange(value, out);
  } else if (name == "transfer-encoding") {
    out->chunked = EndsWithChunked(value);
  } else if (name == "connection" || name == "proxy-connection") {
    // Old proxies speak for the connection in a field of their own.
    ReadConnectionTokens(value, out);
  }
}

// The status line pattern shared by both readers: "HTTP/1.", "0" or "1", a
// blank, then three digits; in `pattern` "?" stands for that version digit
// and "#" for any digit. A match needs a blank or the line end after it.
constexpr size_t kStatusPatternLength = 12;

StatusCheck MatchStatusLine(const std::string& data, const char (&pattern)[kStatusPatternLength + 1]) {
  const size_t n = data.size() < kStatusPatternLength ? data.size() : kStatusPatternLength;
  for (size_t i = 0; i < n; ++i) {
    const char c = data[i];
    const char want = pattern[i];
    const bool ok = want == '?'   ? (c == '0' || c == '1')
                    : want == '#' ? (c >= '0' && c <= '9')
                                  : c == want;
    if (!ok) return StatusCheck::kRefused;
  }
  if (data.size() <= kStatusPatternLength) return StatusCheck::kIncomplete;
  const char next = data[kStatusPatternLength];
  return next == ' ' || next == '\r' ? StatusCheck::kSuccess : StatusCheck::kRefused;
}

}  // namespace

size_t FindHeaderEnd(const std::string& data) {
  const size_t at = data.find("\r\n\r\n");
  return at == std::string::npos ? 0 : at + 4;
}

StatusCheck CheckStatusLine(const std::string& data) { return MatchStatusLine(data, "HTTP/1.? 2##"); }

int StatusCodeOf(const std::string& data) {
  switch (MatchStatusLine(data, "HTTP/1.? ###")) {
    case StatusCheck::kRefused: return -1;
    case StatusCheck::kIncomplete: return 0;
    case StatusCheck::kSuccess: break;
  }
  return (data[9] - '0') * 100 + (data[10] - '0') * 10 + (data[11] - '0');
}

namespace {

void ReadFields(const std::string& head, ResponseHead* out) {
  size_t line_start = head.find("\r\n");
  // Bounded by the head's size: every round moves past one line end.
  while (line_start != std::string::npos && line_start + 2 < head.size()) {
    line_start += 2;
    size_t line_end = head.find("\r\n", line_start);
    if (line_end == std::string::npos) line_end = head.size();
    const std::string line = head.substr(line_start, line_end - line_start);
    const size_t colon = line.find(':');
    if (colon != std::string::npos && colon > 0) {
      ReadField(rt::LowerAscii(Trim(line.substr(0, colon))), Trim(line.substr(colon + 1)), out);
    }
    line_start = line_end;
  }
}

}  // namespace

bool ParseResponseHead(const std::string& head, ResponseHead* out) {
  *out = ResponseHead();
  if (CheckStatusLine(head) != StatusCheck::kSuccess) return false;
  out->status = StatusCodeOf(head);
  out->minor_version = head[7] - '0';
  ReadFields(head, out);
  return true;
}

bool KeepsConnection(const ResponseHead& head) {
  if (head.connection_close) return false;
  if (head.minor_version >= 1) return true;
  return head.connection_keep_alive && head.has_content_length && !head.chunked;
}

bool ParseRangeNotSatisfiable(const std::string& head, ResponseHead* out) {
  *out = ResponseHead();
  if (StatusCodeOf(head) != 416) return false;
  out->status = 416;
  out->minor_version = head[7] - '0';
  ReadFields(head, out);
  return true;
}

}  // namespace net

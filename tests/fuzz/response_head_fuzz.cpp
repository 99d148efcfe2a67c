// The response head reader: where the block ends, the status line check as
// bytes arrive, and the parse of a complete block.
#include <cstdint>
#include <string>

#include "net/http_response.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  const std::size_t end = net::FindHeaderEnd(bytes);
  const std::size_t first_blank_line = bytes.find("\r\n\r\n");
  FUZZ_CHECK(end == (first_blank_line == std::string::npos ? 0 : first_blank_line + 4));

  // The status check of every prefix: once refused or accepted, a longer
  // prefix gives the same answer.
  net::StatusCheck settled = net::StatusCheck::kIncomplete;
  for (std::size_t n = 0; n <= bytes.size() && n <= 16; ++n) {
    const net::StatusCheck check = net::CheckStatusLine(bytes.substr(0, n));
    if (settled != net::StatusCheck::kIncomplete) FUZZ_CHECK(check == settled);
    settled = check;
  }
  const net::StatusCheck whole = net::CheckStatusLine(bytes);
  if (settled != net::StatusCheck::kIncomplete) FUZZ_CHECK(whole == settled);

  const std::string head = end == 0 ? bytes : bytes.substr(0, end);
  net::ResponseHead parsed;
  const bool accepted = net::ParseResponseHead(head, &parsed);
  FUZZ_CHECK(accepted == (net::CheckStatusLine(head) == net::StatusCheck::kSuccess));
  if (!accepted) return 0;
  FUZZ_CHECK(parsed.status >= 200 && parsed.status <= 299);
  FUZZ_CHECK(head.compare(0, 5, "HTTP/") == 0);
  if (parsed.has_content_length && parsed.content_length_valid) {
    FUZZ_CHECK(parsed.content_length >= 0);
  }
  if (parsed.has_content_range && parsed.content_range_valid) FUZZ_CHECK(parsed.range_first >= 0);
  // A connection is kept only when the server did not end it, and an
  // HTTP/1.0 one only with a stated length.
  if (net::KeepsConnection(parsed)) {
    FUZZ_CHECK(!parsed.connection_close);
    if (parsed.minor_version == 0) FUZZ_CHECK(parsed.connection_keep_alive && parsed.has_content_length);
  }
  // Field names are matched without case: the same head in upper case reads
  // the same.
  std::string upper = head;
  for (std::size_t i = 12; i < upper.size(); ++i) {
    if (upper[i] >= 'a' && upper[i] <= 'z') upper[i] = static_cast<char>(upper[i] - 'a' + 'A');
  }
  net::ResponseHead shouted;
  FUZZ_CHECK(net::ParseResponseHead(upper, &shouted));
  FUZZ_CHECK(shouted.has_content_length == parsed.has_content_length);
  FUZZ_CHECK(shouted.has_content_range == parsed.has_content_range);
  return 0;
}

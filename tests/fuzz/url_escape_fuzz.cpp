// URL escaping of a list entry, built into a patch URL as the download run
// builds it: the escaped URL is ASCII without blanks or line ends, keeps the server's
// scheme, host and port, and makes exactly one request line.
#include <cstdint>
#include <string>

#include "net/download_url.h"
#include "net/http_request.h"
#include "net/url_escape.h"
#include "runtime/text.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const rt::Text entry(reinterpret_cast<const char*>(data), size);
  const rt::Text base = "http://127.0.0.1:8088/patch/528/";
  // A list entry is read up to its first NUL, as every Text is.
  const rt::Text path = rt::ReplaceText(entry.substr(0, entry.find('\0')), "\\", "/");
  const rt::Text escaped = net::EscapeUrl(base + path);

  FUZZ_CHECK(escaped.compare(0, base.size(), base) == 0);
  // No byte that could end the request line or the target, and no byte
  // outside ASCII. (Other control bytes are not in the escape set and pass
  // as they are; a server answers them with 400.)
  for (const char c : escaped) {
    FUZZ_CHECK(c != '\r' && c != '\n' && c != ' ' && c != '\t' && c != '\0');
    FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80);
  }

  const net::DownloadUrl url = net::SplitDownloadUrl(escaped);
  FUZZ_CHECK(url.host == "127.0.0.1");
  FUZZ_CHECK(url.port == 8088);
  FUZZ_CHECK(url.host_field == "127.0.0.1:8088");

  net::RequestFields fields;
  fields.path = url.path;
  fields.host_field = url.host_field;
  const rt::Text request = net::BuildRequest(net::RequestForm::kFresh, fields);
  const std::size_t line_end = request.find("\r\n");
  FUZZ_CHECK(request.substr(0, line_end) == "GET /" + url.path + " HTTP/1.1");
  const std::size_t host = request.find("\r\nHost: 127.0.0.1:8088\r\n");
  FUZZ_CHECK(host != rt::Text::npos && request.find("Host:", host + 8) == rt::Text::npos);
  return 0;
}

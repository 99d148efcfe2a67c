#include "runtime/fetch_url.h"

#include "runtime/text.h"

namespace rt {

bool ParseFetchUrl(const Text& url, UrlParts* parts) {
  UrlParts out;
  Text rest;
  if (FindText(url, "http://", 1, true) == 1) {
    rest = url.substr(7);
  } else if (FindText(url, "https://", 1, true) == 1) {
    rest = url.substr(8);
    out.secure = true;
    out.port = 443;
  } else {
    return false;
  }
  size_t slash = rest.find('/');
  Text authority = rest.substr(0, slash);
  if (slash != Text::npos) out.path = rest.substr(slash);
  size_t at = authority.rfind('@');
  if (at != Text::npos) authority = authority.substr(at + 1);
  size_t colon = authority.rfind(':');
  if (colon != Text::npos) {
    Text port = authority.substr(colon + 1);
    authority = authority.substr(0, colon);
    if (!port.empty()) {
      uint32_t value = 0;
      for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value > 65535) return false;
      }
      if (value == 0) return false;
      out.port = static_cast<uint16_t>(value);
    }
  }
  if (authority.empty()) return false;
  out.host = authority;
  *parts = out;
  return true;
}

}  // namespace rt

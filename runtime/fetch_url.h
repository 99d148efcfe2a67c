#pragma once
// Parsing of the URLs FetchUrl accepts: scheme "http" or "https", host,
// optional port, path (with query).
#include <cstdint>

#include "runtime/types.h"

namespace rt {

struct UrlParts {
  bool secure = false;
  Text host;
  uint16_t port = 80;
  Text path = "/";  // starts with "/"
};

// False when the URL has no known scheme, no host or a bad port.
bool ParseFetchUrl(const Text& url, UrlParts* parts);

}  // namespace rt

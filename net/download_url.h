#pragma once
// The pieces of a download URL "http://" host [":" port] "/" path.
#include <cstdint>

#include "runtime/types.h"

namespace net {

constexpr uint16_t kDefaultHttpPort = 80;

struct DownloadUrl {
  rt::Text host;        // what Connect resolves
  uint16_t port = kDefaultHttpPort;
  rt::Text host_field;  // the Host header: host, plus ":" port when the URL names one
  rt::Text path;        // request path without its leading "/"
  rt::Text file_name;   // the last "/"-separated piece
};

// Splits at "/": the third piece is the authority, the last the file name. The
// port is read like atoi and kept as 16 bits, and the host field writes it back
// in decimal. The path is the URL without its first "http://" + host field +
// "/"; a URL that does not start that way is used whole as the path. A URL
// with fewer than three pieces gives an empty host, which no Connect accepts.
DownloadUrl SplitDownloadUrl(const rt::Text& url);

// The URL of `relative` (escaped, "/"-separated) below `folder`, a URL split
// once whose path is empty or ends in "/": the same pieces SplitDownloadUrl
// gives for the two texts joined, without splitting the folder again.
DownloadUrl UrlBelow(const DownloadUrl& folder, const rt::Text& relative);

}  // namespace net

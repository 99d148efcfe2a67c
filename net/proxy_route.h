#pragma once
// Which HTTP proxy, if any, the download engine goes through for a host: the
// same choice the system's own HTTP client makes from the user's setting, so
// that patch files travel the way the list did.
#include <cstdint>
#include <optional>

#include "runtime/proxy_settings.h"
#include "runtime/types.h"

namespace net {

constexpr uint16_t kDefaultProxyPort = 80;

struct ProxyRoute {
  rt::Text host;
  uint16_t port = kDefaultProxyPort;
};

// A proxy when the setting is on, names no automatic-configuration script
// (which only the system's client can evaluate), names an HTTP proxy (a lone
// "host[:port]" serves every protocol; otherwise the "http=" entry of a
// "scheme=host:port;..." list), and does not bypass `host`. The bypass list
// holds ";"-separated patterns with "*" wildcards, matched without letter
// case against the host (or host:port when the pattern names a port);
// "<local>" bypasses names without a dot. Loopback hosts (localhost,
// 127.x.x.x) are bypassed as the system's client does, unless the list holds
// "<-loopback>". A malformed proxy entry means no proxy.
std::optional<ProxyRoute> ChooseProxy(const rt::ProxySettings& settings, const rt::Text& host, uint16_t port);

}  // namespace net

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

// Why the engine cannot take the route the system's own client takes.
enum class ProxyIssue {
  kNone,
  kAutoConfigScript,  // an automatic-configuration (PAC) script: only the system's client runs it
  kSocks,             // a SOCKS proxy ("socks=") serves HTTP
  kCredentials,       // the proxy entry carries credentials ("user:pass@host")
  kMalformedEntry,    // the proxy entry cannot be read (no host, a bad port)
};

// A phrase for the log: "automatic configuration script", ...; "" for kNone.
const char* ToString(ProxyIssue issue);

enum class ProxyVerdict {
  kDirect,         // the setting names no proxy for this host
  kHttpProxy,      // through the HTTP proxy in `route`
  kNotFollowable,  // the system's client may go another way (see `issue`); the engine goes direct
};

struct ProxyDecision {
  ProxyVerdict verdict = ProxyVerdict::kDirect;
  std::optional<ProxyRoute> route;  // set exactly when verdict is kHttpProxy
  ProxyIssue issue = ProxyIssue::kNone;  // set exactly when verdict is kNotFollowable
};

// How the user's setting reaches `host`, as the system's own HTTP client
// decides it:
// - an automatic-configuration script (set, whether or not the proxy switch
//   is on) is not followable;
// - with the switch on, the HTTP entry: a lone "host[:port]" serves every
//   protocol, otherwise the "http=" entry of a "scheme=host:port;..." list.
//   A host the bypass list names goes direct; otherwise an entry with
//   credentials or one that does not parse is not followable, and without
//   an HTTP entry a "socks=" entry (which the system's client then uses for
//   HTTP) is not followable either. The bypass list holds ";"-separated
//   patterns with "*" wildcards, matched without letter case against the
//   host (or host:port when the pattern names a port); "<local>" bypasses
//   names without a dot. Loopback hosts (localhost, 127.x.x.x) are bypassed
//   as the system's client does, unless the list holds "<-loopback>".
// - automatic detection ("automatically detect settings", on in a stock
//   Windows) changes nothing: where the network offers no script, which is
//   nearly everywhere, the system's client goes the way the rest of the
//   setting says (direct, or through the manual proxy).
ProxyDecision ClassifyProxy(const rt::ProxySettings& settings, const rt::Text& host, uint16_t port);

// The route of ClassifyProxy: a proxy only for kHttpProxy.
std::optional<ProxyRoute> ChooseProxy(const rt::ProxySettings& settings, const rt::Text& host, uint16_t port);

}  // namespace net

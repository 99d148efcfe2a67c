// The user's proxy setting as the engine reads it. Input: a flags byte (bit 0
// the proxy switch, the others unused), two bytes of port, then the server
// entry, the bypass list, the script address and the host, separated by NUL
// bytes (missing fields are empty).
//
// Properties: a route exactly when the setting is called followable through
// an HTTP proxy, and a reason exactly when it is called not followable (never
// a route for a setting it cannot follow); a route names a host without
// credentials, blanks or a path, a port other than 0, and comes from the
// setting's own text; with a script the setting is never followable; with the
// switch off it never names a proxy.
#include <cstdint>
#include <string>
#include <vector>

#include "net/proxy_route.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  rt::ProxySettings settings;
  settings.enabled = (data[0] & 1) != 0;
  const uint16_t port = static_cast<uint16_t>(data[1] | (data[2] << 8u));
  std::vector<std::string> fields(4);
  std::size_t field = 0;
  for (std::size_t i = 3; i < size; ++i) {
    if (data[i] == 0) {
      if (++field == fields.size()) break;
      continue;
    }
    fields[field].push_back(static_cast<char>(data[i]));
  }
  settings.server = fields[0];
  settings.bypass = fields[1];
  settings.auto_config_url = fields[2];
  const std::string& host = fields[3];

  const net::ProxyDecision decision = net::ClassifyProxy(settings, host, port);
  const bool proxy = decision.verdict == net::ProxyVerdict::kHttpProxy;
  const bool refused = decision.verdict == net::ProxyVerdict::kNotFollowable;
  FUZZ_CHECK(decision.route.has_value() == proxy);
  FUZZ_CHECK((decision.issue != net::ProxyIssue::kNone) == refused);
  const auto chosen = net::ChooseProxy(settings, host, port);
  FUZZ_CHECK(chosen.has_value() == proxy);
  if (!settings.enabled) FUZZ_CHECK(!proxy);
  if (settings.auto_config_url.find_first_not_of(" \t") != std::string::npos) {
    FUZZ_CHECK(refused && decision.issue == net::ProxyIssue::kAutoConfigScript);
  }
  if (!proxy) return 0;
  const net::ProxyRoute& route = *decision.route;
  FUZZ_CHECK(chosen->host == route.host && chosen->port == route.port);
  FUZZ_CHECK(!route.host.empty());
  FUZZ_CHECK(route.host.find_first_of("@/ \t") == std::string::npos);
  FUZZ_CHECK(route.port != 0);
  FUZZ_CHECK(settings.server.find(route.host) != std::string::npos);
  return 0;
}

#include "net/proxy_route.h"
#include "runtime/text.h"

#include <string>
#include <vector>

namespace net {
namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Pieces between separators, trimmed, empty ones dropped.
std::vector<std::string> Pieces(const std::string& text, const char* separators) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(separators, start);
    if (end == std::string::npos) end = text.size();
    std::string piece = Trim(text.substr(start, end - start));
    if (!piece.empty()) pieces.push_back(piece);
    start = end + 1;
  }
  return pieces;
}

std::string WithoutScheme(const std::string& text) {
  return rt::LowerAscii(text.substr(0, 7)) == "http://" ? text.substr(7) : text;
}

// "*" matches any run of characters; both sides already in lower case.
bool Matches(const std::string& pattern, const std::string& text) {
  size_t p = 0, t = 0, star = std::string::npos, resume = 0;
  while (t < text.size()) {  // bounded: each round advances t or p, or backtracks to a later t
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host.compare(0, 4, "127.") == 0;
}

bool Bypassed(const std::string& bypass, const std::string& host, uint16_t port) {
  bool loopback_through_proxy = false;
  for (const std::string& raw : Pieces(rt::LowerAscii(bypass), "; \t")) {
    if (raw == "<-loopback>") {
      loopback_through_proxy = true;
      continue;
    }
    if (raw == "<local>") {
      if (host.find('.') == std::string::npos) return true;
      continue;
    }
    const std::string pattern = WithoutScheme(raw);
    const std::string subject = pattern.find(':') != std::string::npos ? host + ":" + std::to_string(port) : host;
    if (Matches(pattern, subject)) return true;
  }
  return IsLoopback(host) && !loopback_through_proxy;
}

// "host[:port]", an "http://" in front and "/" behind allowed. Credentials
// ("user:pass@host") are told apart from a malformed entry.
ProxyDecision ParseProxy(const std::string& entry) {
  std::string text = WithoutScheme(entry);
  while (!text.empty() && text.back() == '/') text.pop_back();
  ProxyDecision refused;
  refused.verdict = ProxyVerdict::kNotFollowable;
  if (text.find('@') != std::string::npos) {
    refused.issue = ProxyIssue::kCredentials;
    return refused;
  }
  refused.issue = ProxyIssue::kMalformedEntry;
  ProxyRoute route;
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    route.host = text;
  } else {
    route.host = text.substr(0, colon);
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
      return refused;
    }
    const unsigned long value = std::stoul(digits);
    if (value == 0 || value > 65535) return refused;
    route.port = static_cast<uint16_t>(value);
  }
  if (route.host.empty() || route.host.find_first_of("/@ \t") != std::string::npos) return refused;
  ProxyDecision decision;
  decision.verdict = ProxyVerdict::kHttpProxy;
  decision.route = route;
  return decision;
}

// The manual part of the setting (the switch on): the HTTP entry, or SOCKS.
ProxyDecision ManualProxy(const rt::ProxySettings& settings, const std::string& host, uint16_t port) {
  ProxyDecision direct;
  if (!settings.enabled) return direct;
  std::string entry;
  bool socks = false;
  bool found_http = false;
  for (const std::string& piece : Pieces(settings.server, "; \t")) {
    const size_t equals = piece.find('=');
    if (equals == std::string::npos) {
      if (entry.empty()) entry = piece;  // one proxy for every protocol
      continue;
    }
    const std::string scheme = rt::LowerAscii(Trim(piece.substr(0, equals)));
    if (scheme == "socks") socks = true;
    if (scheme == "http" && !found_http) {
      entry = Trim(piece.substr(equals + 1));
      found_http = true;
    }
  }
  if (Bypassed(settings.bypass, host, port)) return direct;
  if (entry.empty()) {
    if (!socks) return direct;
    ProxyDecision refused;
    refused.verdict = ProxyVerdict::kNotFollowable;
    refused.issue = ProxyIssue::kSocks;
    return refused;
  }
  return ParseProxy(entry);
}

}  // namespace

const char* ToString(ProxyIssue issue) {
  switch (issue) {
    case ProxyIssue::kNone: return "";
    case ProxyIssue::kAutoConfigScript: return "automatic configuration script";
    case ProxyIssue::kSocks: return "SOCKS proxy";
    case ProxyIssue::kCredentials: return "credentials in the proxy entry";
    case ProxyIssue::kMalformedEntry: return "unreadable proxy entry";
  }
  return "unknown";
}

ProxyDecision ClassifyProxy(const rt::ProxySettings& settings, const rt::Text& host, uint16_t port) {
  ProxyDecision decision;
  if (!Trim(settings.auto_config_url).empty()) {
    decision.verdict = ProxyVerdict::kNotFollowable;
    decision.issue = ProxyIssue::kAutoConfigScript;
    return decision;
  }
  return ManualProxy(settings, rt::LowerAscii(host), port);
}

std::optional<ProxyRoute> ChooseProxy(const rt::ProxySettings& settings, const rt::Text& host, uint16_t port) {
  return ClassifyProxy(settings, host, port).route;
}

}  // namespace net

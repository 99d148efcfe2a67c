#include "net/server_url.h"

#include <string_view>

#include "runtime/convert.h"
#include "runtime/text.h"

namespace net {
namespace {

constexpr std::string_view kScheme = "http://";
constexpr char kMirrorSeparator = ';';
// A port has at most this many digits (65535); more are refused whatever
// their value, as "0000080808" is.
constexpr size_t kMaxPortDigits = 5;
constexpr uint32_t kMaxPort = 65535;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHostChar(char c) { return IsLetter(c) || IsDigit(c) || c == '.' || c == '-'; }

// Blanks, tabs, CR and LF around a piece go, as the configuration strips them.
rt::Text Strip(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return rt::Text(text.substr(begin, end - begin));
}

// The scheme as RFC 3986 writes it, with its "://"; empty when there is none.
rt::Text SchemeOf(const rt::Text& url) {
  if (url.empty() || !IsLetter(url[0])) return rt::Text();
  size_t i = 1;
  while (i < url.size() && (IsLetter(url[i]) || IsDigit(url[i]) || url[i] == '+' || url[i] == '.' || url[i] == '-')) {
    ++i;
  }
  return url.compare(i, 3, "://") == 0 ? url.substr(0, i + 3) : rt::Text();
}

// The host and optional port of the authority, checked; the problem text
// when they are refused.
rt::Text ParseAuthority(const rt::Text& authority, DownloadUrl* url) {
  if (authority.empty()) return "it names no host";
  if (authority.find('@') != rt::Text::npos) return "user names and passwords in the URL are not supported";
  if (authority[0] == '[') return "IPv6 addresses are not supported; use a host name or an IPv4 address";
  const size_t colon = authority.find(':');
  const rt::Text host = authority.substr(0, colon);
  const rt::Text port = colon == rt::Text::npos ? rt::Text() : authority.substr(colon + 1);
  bool well_formed = !host.empty() && (colon == rt::Text::npos || !port.empty());
  for (char c : host) well_formed = well_formed && IsHostChar(c);
  for (char c : port) well_formed = well_formed && IsDigit(c);
  if (!well_formed) {
    return "the host \"" + authority + "\" is not a host name or IPv4 address with an optional port";
  }
  url->host = host;
  url->port = kDefaultHttpPort;
  url->host_field = host;
  if (colon == rt::Text::npos) return rt::Text();
  uint32_t value = 0;
  for (char c : port) value = value * 10 + static_cast<uint32_t>(c - '0');
  if (port.size() > kMaxPortDigits || value < 1 || value > kMaxPort) {
    return "the port " + port + " is outside 1..65535";
  }
  url->port = static_cast<uint16_t>(value);
  // The Host header names the port in decimal, as the request asks for it.
  url->host_field = host + ":" + rt::ToText(static_cast<int32_t>(value));
  return rt::Text();
}

}  // namespace

ServerUrlParse ParseServerUrl(const rt::Text& text) {
  ServerUrlParse result;
  const rt::Text scheme = SchemeOf(text);
  if (text.find_first_of(" \t\r\n") != rt::Text::npos) {
    result.problem = "it contains a blank";
  } else if (scheme.empty()) {
    result.problem = "it does not start with http://";
  } else if (scheme != kScheme) {
    result.problem = "the updater speaks plain HTTP only (http://, lower case), not " + scheme;
  } else if (text.find_first_of("?#") != rt::Text::npos) {
    result.problem = "a query or fragment (? or #) cannot take the patch folder after it";
  } else if (text.back() != '/') {
    result.problem = "it must end in \"/\" (the patch folder is appended to it)";
  } else {
    const size_t slash = text.find('/', kScheme.size());  // found: the URL ends in "/"
    result.problem = ParseAuthority(text.substr(kScheme.size(), slash - kScheme.size()), &result.url.base);
    if (result.ok()) {
      result.url.text = text;
      result.url.base.path = text.substr(slash + 1);
    }
  }
  if (!result.ok()) result.url = ServerUrl();
  return result;
}

ServerSetting ParseServerSetting(const rt::Text& setting) {
  ServerSetting result;
  // The configuration refuses brackets anywhere (a CMake list would group
  // pieces by them); in a URL they could only be an IPv6 address.
  if (setting.find_first_of("[]") != rt::Text::npos) {
    result.problem = "\"[\" or \"]\": IPv6 addresses are not supported; use a host name or an IPv4 address";
    return result;
  }
  size_t start = 0;
  // Bounded: every round moves past one separator or ends.
  while (start <= setting.size()) {
    size_t end = setting.find(kMirrorSeparator, start);
    if (end == rt::Text::npos) end = setting.size();
    const rt::Text piece = Strip(std::string_view(setting).substr(start, end - start));
    start = end + 1;
    if (piece.empty()) continue;
    ServerUrlParse parsed = ParseServerUrl(piece);
    if (!parsed.ok()) {
      result.problem = "mirror " + rt::ToText(static_cast<int32_t>(result.mirrors.size() + 1)) + " \"" + piece +
                       "\": " + parsed.problem;
      result.mirrors.clear();
      return result;
    }
    result.mirrors.push_back(std::move(parsed.url));
  }
  if (result.mirrors.empty()) result.problem = "no server URL given";
  return result;
}

}  // namespace net

#include "net/url_escape.h"

#include <algorithm>
#include <cstring>

#include "runtime/encoding.h"
#include "runtime/text.h"

namespace net {
namespace {

// The characters PercentEncode escapes, in their historical order; the last
// three are CR, LF and tab. The blank is deliberately not among them.
constexpr char kEscapeSet[] = "`~!@#$%^&*()-_=+[{]};:'\\|,<.>/?\"\r\n\t";
static_assert(sizeof kEscapeSet - 1 == 35, "escape set has 35 members");

// Escapes that EscapeUrl undoes, in order, and their characters.
struct Restore {
  const char* escape;
  const char* plain;
};
constexpr Restore kRestored[] = {
    {"%2F", "/"}, {"%3A", ":"}, {"%2E", "."}, {"%2D", "-"}, {"%5F", "_"},
};

bool InEscapeSet(std::uint8_t b) {
  return b != 0 && std::memchr(kEscapeSet, b, sizeof kEscapeSet - 1) != nullptr;
}

void AppendEscape(rt::Text& out, std::uint8_t b) {
  out += '%';
  out += rt::UpperHexDigit(b >> 4);
  out += rt::UpperHexDigit(b);
}

}  // namespace

// The conversions themselves are the runtime's (code page 936 on every
// system); these two only lay the result out as the zero-terminated buffers
// of the escaper.
rt::Bytes AnsiToUtf16(const rt::Text& text) {
  const std::u16string units = rt::GbkToUtf16(text);
  rt::Bytes out;
  out.reserve(units.size() * 2 + 2);
  for (char16_t unit : units) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

rt::Bytes AnsiToUtf8(const rt::Text& text) {
  const std::string utf8 = rt::GbkToUtf8(text);
  // Cut at the first zero, as a NUL-terminated conversion would, then end
  // with exactly one zero byte.
  rt::Bytes out(utf8.begin(), std::find(utf8.begin(), utf8.end(), '\0'));
  out.push_back(0);
  return out;
}

rt::Text PercentEncode(const rt::Text& text) {
  rt::Text out;
  out.reserve(text.size() * 3);
  // A text ends at its first NUL byte.
  const size_t length = std::strlen(text.c_str());
  size_t p = 0;
  // Bounded by the text's length: p advances by one or two every round.
  while (p < length) {
    const std::uint8_t b = static_cast<std::uint8_t>(text[p]);
    if (b < 0x80) {
      if (InEscapeSet(b)) {
        AppendEscape(out, b);
      } else {
        out += static_cast<char>(b);
      }
      ++p;
      continue;
    }
    // A double-byte character; its trail byte is taken unchecked, and a lead
    // byte at the very end stands alone.
    const rt::Bytes utf8 = AnsiToUtf8(text.substr(p, p + 1 < length ? 2 : 1));
    for (std::uint8_t u : utf8) {
      if (u != 0) AppendEscape(out, u);
    }
    p += 2;
  }
  return out;
}

rt::Text EscapeUrl(const rt::Text& url) {
  rt::Text s = PercentEncode(url);
  for (const Restore& r : kRestored) s = rt::ReplaceText(s, r.escape, r.plain);
  return rt::ReplaceText(s, " ", "%20");
}

}  // namespace net

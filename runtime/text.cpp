#include "runtime/text.h"

#include <cstdarg>
#include <cstdio>

namespace rt {
namespace {

inline unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

bool MatchAt(const Text& text, size_t pos, const Text& wanted, bool ignore_case) {
  if (pos + wanted.size() > text.size()) return false;
  for (size_t i = 0; i < wanted.size(); ++i) {
    unsigned char a = text[pos + i], b = wanted[i];
    if (ignore_case ? Lower(a) != Lower(b) : a != b) return false;
  }
  return true;
}

}  // namespace

int32_t TextLength(const Text& text) { return static_cast<int32_t>(text.size()); }

Text TextLeft(const Text& text, int32_t n) {
  if (n <= 0) return Text();
  return text.substr(0, static_cast<size_t>(n));
}

Text TextRight(const Text& text, int32_t n) {
  if (n <= 0) return Text();
  size_t k = std::min(static_cast<size_t>(n), text.size());
  return text.substr(text.size() - k);
}

Text TextMid(const Text& text, int32_t start, int32_t n) {
  if (start < 1 || n <= 0 || static_cast<size_t>(start) > text.size()) return Text();
  return text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(n));
}

Text CharText(std::uint8_t code) { return Text(1, static_cast<char>(code)); }

int32_t ByteCodeAt(const Text& text, int32_t position) {
  if (position < 1 || static_cast<size_t>(position) > text.size()) return 0;
  return static_cast<unsigned char>(text[position - 1]);
}

int32_t FindText(const Text& text, const Text& wanted, int32_t start, bool ignore_case) {
  if (text.empty()) return -1;
  if (start < 1) start = 1;
  if (wanted.empty()) return 1;
  for (size_t pos = static_cast<size_t>(start - 1); pos + wanted.size() <= text.size(); ++pos) {
    if (MatchAt(text, pos, wanted, ignore_case)) return static_cast<int32_t>(pos + 1);
  }
  return -1;
}

int32_t FindTextBackward(const Text& text, const Text& wanted, int32_t start, bool ignore_case) {
  if (text.empty()) return -1;
  if (wanted.empty()) return 1;
  if (wanted.size() > text.size()) return -1;
  size_t last = text.size() - wanted.size();
  if (start >= 1 && static_cast<size_t>(start - 1) < last) last = static_cast<size_t>(start - 1);
  for (size_t pos = last + 1; pos-- > 0;) {
    if (MatchAt(text, pos, wanted, ignore_case)) return static_cast<int32_t>(pos + 1);
  }
  return -1;
}

size_t FindLastChar(const Text& text, char c) {
  size_t found = Text::npos;
  for (size_t i = 0; i < text.size(); i += GbkCharLength(text, i)) {
    if (text[i] == c) found = i;
  }
  return found;
}

Text ReplaceChar(const Text& text, char from, char to) {
  Text out = text;
  for (size_t i = 0; i < out.size(); i += GbkCharLength(out, i)) {
    if (out[i] == from) out[i] = to;
  }
  return out;
}

Text TrimText(const Text& text) {
  // One walk by characters, so a 0xA1 trail byte never pairs with the next
  // character into a false full-width blank.
  size_t begin = Text::npos, end = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t length = GbkCharLength(text, i);
    const bool blank = (length == 1 && text[i] == ' ') ||
                       (length == 2 && static_cast<unsigned char>(text[i]) == 0xA1 &&
                        static_cast<unsigned char>(text[i + 1]) == 0xA1);
    if (!blank) {
      if (begin == Text::npos) begin = i;
      end = i + length;
    }
    i += length;
  }
  return begin == Text::npos ? Text() : text.substr(begin, end - begin);
}

Text ReplaceText(const Text& text, const Text& wanted, const Text& replacement, int32_t start,
                 int32_t count, bool case_sensitive) {
  if (wanted.empty() || count == 0) return text;
  if (start < 1) start = 1;
  if (static_cast<size_t>(start - 1) >= text.size()) return text;
  Text out = text.substr(0, static_cast<size_t>(start - 1));
  size_t pos = static_cast<size_t>(start - 1);
  int32_t done = 0;
  while (pos < text.size()) {
    if ((count < 0 || done < count) && MatchAt(text, pos, wanted, !case_sensitive)) {
      out += replacement;
      pos += wanted.size();
      ++done;
    } else {
      out += text[pos++];
    }
  }
  return out;
}

TextArray SplitText(const Text& text, const Text& delimiter, int32_t max_pieces) {
  TextArray pieces;
  if (text.empty() || max_pieces == 0) return pieces;
  if (delimiter.empty()) {
    pieces.push_back(text);
    return pieces;
  }
  size_t piece_start = 0, i = 0;
  while (i < text.size()) {
    if (text.compare(i, delimiter.size(), delimiter) == 0) {
      pieces.push_back(text.substr(piece_start, i - piece_start));
      if (max_pieces > 0 && static_cast<int32_t>(pieces.size()) >= max_pieces) return pieces;
      i += delimiter.size();
      piece_start = i;
    } else {
      i += GbkCharLength(text, i);
    }
  }
  if (piece_start < text.size()) pieces.push_back(text.substr(piece_start));
  return pieces;
}

Text FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  Text out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

Text HexText(int32_t value) { return FormatText("%X", static_cast<unsigned>(value)); }

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Text LowerHexOf(const std::uint8_t* data, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  Text hex;
  hex.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 0x0F];
  }
  return hex;
}

bool ReadHexBytes(std::string_view hex, std::uint8_t* out, size_t size, HexDigits digits) {
  if (hex.size() != size * 2) return false;
  auto value = [digits](char c) {
    return digits == HexDigits::kLowerCase && c >= 'A' && c <= 'F' ? -1 : HexDigitValue(c);
  };
  for (size_t i = 0; i < size; ++i) {
    const int high = value(hex[2 * i]);
    const int low = value(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return true;
}

}  // namespace rt

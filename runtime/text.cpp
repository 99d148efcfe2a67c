#include "runtime/text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

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

// Byte offsets where a character starts, walking GBK pairs from the start.
std::vector<bool> CharStarts(const Text& text) {
  std::vector<bool> starts(text.size() + 1, false);
  size_t i = 0;
  while (i < text.size()) {
    starts[i] = true;
    i += (IsGbkLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
  }
  starts[text.size()] = true;
  return starts;
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

Text TrimText(const Text& text) {
  std::vector<bool> starts = CharStarts(text);
  auto blank_at = [&](size_t i) -> size_t {  // length of the blank starting at i, 0 if none
    if (!starts[i] || i >= text.size()) return 0;
    if (text[i] == ' ') return 1;
    if (i + 1 < text.size() && static_cast<unsigned char>(text[i]) == 0xA1 &&
        static_cast<unsigned char>(text[i + 1]) == 0xA1)
      return 2;
    return 0;
  };
  size_t begin = 0;
  while (size_t n = blank_at(begin)) begin += n;
  // Walk characters forward and remember where the trailing run of blanks starts.
  size_t end = begin, i = begin;
  while (i < text.size()) {
    size_t n = blank_at(i);
    if (n == 0) {
      i += (IsGbkLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
      end = i;
    } else {
      i += n;
    }
  }
  return text.substr(begin, end - begin);
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
      i += (IsGbkLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
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

}  // namespace rt

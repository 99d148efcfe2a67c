#pragma once
// Text operations over GBK byte strings: 1-based positions, -1 for "not
// found". The operations marked GBK-aware never split a double-byte pair
// (a lead byte 0x81..0xFE followed by its trail byte).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/types.h"

namespace rt {

// True when `b` starts a GBK double-byte character.
inline bool IsGbkLead(std::uint8_t b) { return b >= 0x81 && b <= 0xFE; }
// True when `b` can end a GBK double-byte character: 0x40..0xFE without 0x7F
// (so a trail byte may be "\\" or an ASCII letter).
inline bool IsGbkTrail(std::uint8_t b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }
// Bytes of the character at 0-based offset `i`: 2 for a lead byte with a byte
// after it, else 1.
inline size_t GbkCharLength(const Text& text, size_t i) {
  return (IsGbkLead(static_cast<std::uint8_t>(text[i])) && i + 1 < text.size()) ? 2 : 1;
}

int32_t TextLength(const Text& text);
// The first min(n, length) bytes; n <= 0 gives the empty text.
Text TextLeft(const Text& text, int32_t n);
// The last min(n, length) bytes; n <= 0 gives the empty text.
Text TextRight(const Text& text, int32_t n);
// The n bytes from 1-based `start`, cut at the end; start < 1, start beyond the
// end or n <= 0 give the empty text.
Text TextMid(const Text& text, int32_t start, int32_t n);
Text CharText(std::uint8_t code);
// The byte at a 1-based position, 0 when the position is outside the text.
int32_t ByteCodeAt(const Text& text, int32_t position = 1);

// 1-based position of the first occurrence of `wanted` at or after `start`,
// or -1. An empty `wanted` gives 1 for a non-empty text, else -1.
// `ignore_case` folds ASCII letters only.
int32_t FindText(const Text& text, const Text& wanted, int32_t start = 1, bool ignore_case = false);
// 1-based position of the last occurrence starting at or before `start`
// (default: anywhere), or -1.
int32_t FindTextBackward(const Text& text, const Text& wanted, int32_t start = -1,
                         bool ignore_case = false);

// 0-based offset of the last byte `c` that stands as a character of its own,
// never the trail byte of a double-byte pair (the second byte of 運 is "\"),
// or Text::npos. GBK-aware: use it for every split of a path at "\".
size_t FindLastChar(const Text& text, char c);

// Every byte `from` that stands as a character of its own replaced by `to`;
// trail bytes of double-byte pairs stay. GBK-aware.
Text ReplaceChar(const Text& text, char from, char to);

// Removes leading and trailing blanks: 0x20 and the full-width blank A1 A1.
// Tabs, CR and LF are not blanks. GBK-aware.
Text TrimText(const Text& text);

// Replaces occurrences of `wanted` by `replacement`, scanning from `start`,
// at most `count` times (count < 0: all). When `case_sensitive` is false
// ASCII letters compare without case.
Text ReplaceText(const Text& text, const Text& wanted, const Text& replacement = Text(),
                 int32_t start = 1, int32_t count = -1, bool case_sensitive = true);

// The pieces between delimiters, in order. An empty piece between two
// delimiters stays; the piece after the last delimiter is added only when it is
// non-empty; the empty text gives no piece. `max_pieces` < 0 is unlimited,
// otherwise splitting stops once that many pieces are collected. GBK-aware:
// a delimiter is only matched at a character boundary.
TextArray SplitText(const Text& text, const Text& delimiter = ",", int32_t max_pieces = -1);

// Whether `text` begins or ends with the bytes of `part`.
inline bool StartsWith(std::string_view text, std::string_view part) {
  return text.size() >= part.size() && text.compare(0, part.size(), part) == 0;
}
inline bool EndsWith(std::string_view text, std::string_view part) {
  return text.size() >= part.size() && text.compare(text.size() - part.size(), part.size(), part) == 0;
}

// ASCII letters folded to lower case, every other byte kept, whatever the
// C locale says. For protocol text (header names, schemes, host names): a
// GBK trail byte may be a letter, so GBK names fold GBK-aware instead.
std::string LowerAscii(std::string text);

// The value of one hexadecimal digit of either case, -1 for any other byte.
int HexDigitValue(char c);
// The upper-case digit of a value 0..15 (only the low four bits are used).
inline char UpperHexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0x0F]; }
// Bytes as lower-case hexadecimal, two digits a byte.
Text LowerHexOf(const std::uint8_t* data, size_t size);
// Which digits ReadHexBytes takes.
enum class HexDigits { kEitherCase, kLowerCase };
// Exactly 2 * `size` hexadecimal digits into `size` bytes; false (`out`
// undefined) for any other length or byte.
[[nodiscard]] bool ReadHexBytes(std::string_view hex, std::uint8_t* out, size_t size,
                                HexDigits digits = HexDigits::kEitherCase);

// printf-style formatting.
Text FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Upper-case hexadecimal digits without prefix.
Text HexText(int32_t value);

}  // namespace rt

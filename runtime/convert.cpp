#include "runtime/convert.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "runtime/text.h"

namespace rt {

Text FoldFullWidth(const Text& text) {
  Text out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char b = text[i];
    if (IsGbkLead(b) && i + 1 < text.size()) {
      unsigned char t = text[i + 1];
      if (b == 0xA3 && t >= 0xA1 && t <= 0xFE) {  // full-width ASCII block
        out += static_cast<char>(t - 0x80);
      } else if (b == 0xA1 && t == 0xA1) {  // full-width blank
        out += ' ';
      } else {
        out += static_cast<char>(b);
        out += static_cast<char>(t);
      }
      ++i;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

int32_t ToInteger(const Text& text) {
  Text folded = FoldFullWidth(text);
  const char* p = folded.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  int64_t value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + (*p++ - '0');
    if (value > int64_t{1} << 32) break;  // already beyond any int32
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

double ToDouble(const Text& text) { return std::atof(FoldFullWidth(text).c_str()); }

Text ToText(int32_t value) { return FormatText("%d", value); }
Text ToText(uint32_t value) { return FormatText("%u", value); }
Text ToText(int64_t value) { return FormatText("%" PRId64, value); }
Text ToText(std::uint8_t value) { return FormatText("%u", static_cast<unsigned>(value)); }
Text ToText(double value) { return FormatText("%.13g", value); }
Text ToText(float value) { return FormatText("%.6g", static_cast<double>(value)); }
Text ToText(bool value) { return value ? Text("真") : Text("假"); }
Text ToText(const Bytes& value) {
  if (value.empty()) return Text();  // data() may be null: no memchr on it
  const void* nul = std::memchr(value.data(), 0, value.size());
  size_t n = nul ? static_cast<size_t>(static_cast<const std::uint8_t*>(nul) - value.data()) : value.size();
  return Text(reinterpret_cast<const char*>(value.data()), n);
}
Text ToText(const Text& value) { return value; }
Text ToText(const char* value) { return value ? Text(value) : Text(); }

namespace {
template <typename T>
Bytes LittleEndian(T value) {
  Bytes out(sizeof(T));
  std::memcpy(out.data(), &value, sizeof(T));  // every target we build for is little-endian
  return out;
}
}  // namespace

Bytes ToBytes(const Text& value) { return Bytes(value.begin(), value.end()); }
Bytes ToBytes(const char* value) { return value ? ToBytes(Text(value)) : Bytes(); }
Bytes ToBytes(std::uint8_t value) { return Bytes{value}; }
Bytes ToBytes(int16_t value) { return LittleEndian(value); }
Bytes ToBytes(int32_t value) { return LittleEndian(value); }
Bytes ToBytes(int64_t value) { return LittleEndian(value); }
Bytes ToBytes(float value) { return LittleEndian(value); }
Bytes ToBytes(double value) { return LittleEndian(value); }

}  // namespace rt

#pragma once
// Conversions between texts, numbers and byte buffers.
#include <cstdint>

#include "runtime/types.h"

namespace rt {

// Reads a text like C atoi after folding GBK full-width forms (A3A1..A3FE and
// the full-width blank A1A1) to ASCII: leading blanks, optional sign, decimal
// digits up to the first other byte. No digits gives 0; values beyond the
// int32 range saturate.
int32_t ToInteger(const Text& text);
inline int32_t ToInteger(int32_t value) { return value; }
inline int32_t ToInteger(double value) { return static_cast<int32_t>(value); }
// Like ToInteger but read like C atof.
double ToDouble(const Text& text);

// Folds GBK full-width ASCII forms to their ASCII bytes.
Text FoldFullWidth(const Text& text);

Text ToText(int32_t value);       // "%d"
Text ToText(uint32_t value);      // "%u"
Text ToText(int64_t value);       // "%lld"
Text ToText(std::uint8_t value);  // "%u"
Text ToText(double value);        // "%.13g"
Text ToText(float value);         // "%.6g"
Text ToText(bool value);          // "真" or "假"
Text ToText(const Bytes& value);  // the bytes up to the first NUL
Text ToText(const Text& value);
Text ToText(const char* value);

// A text gives its bytes without the NUL; numbers their little-endian bytes.
Bytes ToBytes(const Text& value);
Bytes ToBytes(const char* value);
Bytes ToBytes(std::uint8_t value);
Bytes ToBytes(int16_t value);
Bytes ToBytes(int32_t value);
Bytes ToBytes(int64_t value);
Bytes ToBytes(float value);
Bytes ToBytes(double value);

}  // namespace rt

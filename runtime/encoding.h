#pragma once
// GBK (code page 936) conversions, identical on every system.
#include <string>

#include "runtime/types.h"

namespace rt {

// GBK to UTF-16 code units. Bytes that are not valid GBK become U+FFFD
// on POSIX; on Windows whatever MultiByteToWideChar(936) makes of them.
std::u16string GbkToUtf16(const Text& text);
// UTF-16 to GBK; `ok` (when given) is false if a character has no GBK form.
Text Utf16ToGbk(const std::u16string& text, bool* ok = nullptr);
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);
// Shorthands for the common pairs.
std::string GbkToUtf8(const Text& text);
Text Utf8ToGbk(const std::string& text, bool* ok = nullptr);

}  // namespace rt

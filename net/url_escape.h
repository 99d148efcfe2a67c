#pragma once
// Escaping of patch URLs into plain ASCII with percent escapes. GBK texts are
// converted through code page 936 on every system, whatever the locale.
#include "runtime/types.h"

namespace net {

// PercentEncode, then "/", ":", ".", "-" and "_" put back in the clear and
// every blank written as "%20". Scheme and host pass through unchanged when
// they consist of letters, digits and those five characters.
rt::Text EscapeUrl(const rt::Text& url);
// Escapes the 35 characters of the escape set (upper-case hex digits); other
// ASCII bytes (the blank included) are copied; a byte with the high bit set is
// taken with the next byte as one GBK character and written as the percent
// escapes of its UTF-8 bytes.
rt::Text PercentEncode(const rt::Text& text);
// The UTF-8 bytes of the text's characters followed by one zero byte.
rt::Bytes AnsiToUtf8(const rt::Text& text);
// The UTF-16LE units of the text followed by one zero unit.
rt::Bytes AnsiToUtf16(const rt::Text& text);

}  // namespace net

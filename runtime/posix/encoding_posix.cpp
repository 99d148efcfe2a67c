// GBK conversions through iconv's CP936 table, which maps the same bytes as
// Windows code page 936.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "runtime/encoding.h"

namespace rt {
namespace {

// The thread's open conversions, one per pair of encodings, kept until the
// thread ends: opening one allocates a 32 KB table each time, which on the
// download run's threads, a few conversions per file, cost time and left
// their heaps fragmented. A descriptor is not shared between threads.
class Converters {
 public:
  Converters() = default;
  Converters(const Converters&) = delete;
  Converters& operator=(const Converters&) = delete;
  ~Converters() {
    for (size_t i = 0; i < used_; ++i) iconv_close(open_[i].cd);
  }

  // The conversion `from` -> `to` in its initial state; (iconv_t)-1 when
  // iconv has none.
  iconv_t Get(const char* to, const char* from) {
    for (size_t i = 0; i < used_; ++i) {
      if (std::strcmp(open_[i].to, to) == 0 && std::strcmp(open_[i].from, from) == 0) {
        iconv(open_[i].cd, nullptr, nullptr, nullptr, nullptr);
        return open_[i].cd;
      }
    }
    const iconv_t cd = iconv_open(to, from);
    if (cd == kNoConverter || used_ == kMaxConverters) return cd;
    open_[used_++] = {to, from, cd};
    return cd;
  }
  // Closes `cd` unless it is one kept here.
  void Done(iconv_t cd) {
    for (size_t i = 0; i < used_; ++i) {
      if (open_[i].cd == cd) return;
    }
    iconv_close(cd);
  }

  static inline const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

 private:
  static constexpr size_t kMaxConverters = 8;  // this file uses six pairs
  struct Open {
    const char* to;
    const char* from;
    iconv_t cd;
  };
  Open open_[kMaxConverters] = {};
  size_t used_ = 0;
};

thread_local Converters t_converters;

// Converts `in` between iconv encodings. Invalid input sequences become
// `replacement` (encoded in the target encoding); returns false in `*ok` when
// anything had to be replaced.
std::string Convert(const char* to, const char* from, const std::string& in, const std::string& replacement,
                    size_t in_unit, bool* ok) {
  if (ok) *ok = true;
  std::string out;
  if (in.empty()) return out;
  const iconv_t cd = t_converters.Get(to, from);
  if (cd == Converters::kNoConverter) {
    if (ok) *ok = false;
    return out;
  }
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char buffer[4096];
  while (src_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated input): replace one unit and go on.
      if (ok) *ok = false;
      out += replacement;
      size_t skip = std::min(in_unit, src_left);
      src += skip;
      src_left -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  t_converters.Done(cd);
  return out;
}

std::u16string FromBytes(const std::string& s) {
  std::u16string out(s.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(s[2 * i]) | (static_cast<unsigned char>(s[2 * i + 1]) << 8));
  return out;
}

std::string ToBytes16(const std::u16string& s) {
  std::string out(s.size() * 2, '\0');
  for (size_t i = 0; i < s.size(); ++i) {
    out[2 * i] = static_cast<char>(s[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(s[i] >> 8);
  }
  return out;
}

const std::string kReplacement16("\xFD\xFF", 2);  // U+FFFD, UTF-16LE

}  // namespace

std::u16string GbkToUtf16(const Text& text) {
  return FromBytes(Convert("UTF-16LE", "CP936", text, kReplacement16, 1, nullptr));
}

Text Utf16ToGbk(const std::u16string& text, bool* ok) {
  return Convert("CP936", "UTF-16LE", ToBytes16(text), "?", 2, ok);
}

std::string Utf16ToUtf8(const std::u16string& text) {
  return Convert("UTF-8", "UTF-16LE", ToBytes16(text), "\xEF\xBF\xBD", 2, nullptr);
}

std::u16string Utf8ToUtf16(const std::string& text) {
  return FromBytes(Convert("UTF-16LE", "UTF-8", text, kReplacement16, 1, nullptr));
}

std::string GbkToUtf8(const Text& text) { return Convert("UTF-8", "CP936", text, "\xEF\xBF\xBD", 1, nullptr); }

Text Utf8ToGbk(const std::string& text, bool* ok) { return Convert("CP936", "UTF-8", text, "?", 1, ok); }

}  // namespace rt

// GBK conversions through code page 936, whatever the system's ANSI code
// page is.
#include "runtime/encoding.h"
#include "runtime/win32/wide.h"
#include "runtime/win32/win.h"

namespace rt {
namespace {
constexpr UINT kGbk = 936;
}

std::u16string GbkToUtf16(const Text& text) {
  if (text.empty()) return std::u16string();
  int n = MultiByteToWideChar(kGbk, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::u16string();
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(kGbk, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(&out[0]), n);
  return out;
}

Text Utf16ToGbk(const std::u16string& text, bool* ok) {
  if (ok) *ok = true;
  if (text.empty()) return Text();
  const wchar_t* src = reinterpret_cast<const wchar_t*>(text.data());
  BOOL used_default = FALSE;
  int n = WideCharToMultiByte(kGbk, 0, src, static_cast<int>(text.size()), nullptr, 0, nullptr, &used_default);
  if (n <= 0) {
    if (ok) *ok = false;
    return Text();
  }
  Text out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(kGbk, 0, src, static_cast<int>(text.size()), &out[0], n, nullptr, &used_default);
  if (ok && used_default) *ok = false;
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  if (text.empty()) return std::string();
  const wchar_t* src = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(CP_UTF8, 0, src, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, src, static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  if (text.empty()) return std::u16string();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::u16string();
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(&out[0]), n);
  return out;
}

std::string GbkToUtf8(const Text& text) { return Utf16ToUtf8(GbkToUtf16(text)); }

Text Utf8ToGbk(const std::string& text, bool* ok) { return Utf16ToGbk(Utf8ToUtf16(text), ok); }

std::wstring Wide(const Text& gbk) {
  std::u16string u = GbkToUtf16(gbk);
  return std::wstring(reinterpret_cast<const wchar_t*>(u.data()), u.size());
}

Text FromWide(const wchar_t* wide, size_t length) {
  return Utf16ToGbk(std::u16string(reinterpret_cast<const char16_t*>(wide), length));
}

Text FromWide(const std::wstring& wide) { return FromWide(wide.data(), wide.size()); }

}  // namespace rt

#include "runtime/win32/win.h"

#include <vector>

#include "runtime/user_values.h"
#include "runtime/win32/wide.h"

namespace rt {
namespace {
// Longest value read, in bytes: the values kept here are short numbers.
constexpr DWORD kMaxValueBytes = 4096;
}  // namespace

std::optional<Text> ReadUserValue(const Text& key, const Text& name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<wchar_t> buffer(kMaxValueBytes / sizeof(wchar_t) + 1, L'\0');
  DWORD type = 0;
  DWORD bytes = kMaxValueBytes;
  const LONG status = RegQueryValueExW(opened, Wide(name).c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  size_t length = bytes / sizeof(wchar_t);
  while (length > 0 && buffer[length - 1] == L'\0') --length;  // the stored terminator, if any
  return FromWide(buffer.data(), length);
}

bool WriteUserValue(const Text& key, const Text& name, const Text& value) {
  HKEY opened = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, &opened, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring wide = Wide(value);
  const LONG status = RegSetValueExW(opened, Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                                     static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(opened);
  return status == ERROR_SUCCESS;
}

}  // namespace rt

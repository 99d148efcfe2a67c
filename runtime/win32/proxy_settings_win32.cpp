#include <string>

#include "runtime/encoding.h"
#include "runtime/proxy_settings.h"
#include "runtime/scoped_handle.h"
#include "runtime/win32/win.h"

namespace rt {
namespace {

constexpr wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
// Longest string value read; a longer one is taken as absent.
constexpr DWORD kMaxValueBytes = 16384;

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle key) { return key != nullptr; }
  static void Close(Handle key) { RegCloseKey(key); }
};
using RegistryKey = ScopedHandle<RegistryKeyTraits>;

Text ReadString(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return Text();
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > kMaxValueBytes) return Text();
  std::u16string value(size / sizeof(char16_t) + 1, u'\0');
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS) {
    return Text();
  }
  value.resize(size / sizeof(char16_t));
  while (!value.empty() && value.back() == u'\0') value.pop_back();
  return Utf16ToGbk(value);
}

bool ReadFlag(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) {
    return false;
  }
  return type == REG_DWORD && size == sizeof value && value != 0;
}

}  // namespace

ProxySettings ReadUserProxySettings() {
  ProxySettings settings;
  RegistryKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) {
    return settings;
  }
  settings.enabled = ReadFlag(key.get(), L"ProxyEnable");
  settings.server = ReadString(key.get(), L"ProxyServer");
  settings.bypass = ReadString(key.get(), L"ProxyOverride");
  settings.auto_config_url = ReadString(key.get(), L"AutoConfigURL");
  return settings;
}

}  // namespace rt

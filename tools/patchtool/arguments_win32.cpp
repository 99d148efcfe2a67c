#include "runtime/win32/win.h"

#include <shellapi.h>

#include "runtime/encoding.h"
#include "tools/patchtool/arguments.h"

namespace patchtool {

bool GbkArguments(int, char**, std::vector<rt::Text>* out, std::string* error) {
  // The narrow argv went through the ANSI code page; the wide command line
  // has every character.
  out->clear();
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return true;
  bool all_ok = true;
  for (int i = 1; i < count; ++i) {
    std::u16string arg(reinterpret_cast<const char16_t*>(wide[i]));
    bool ok = true;
    rt::Text gbk = rt::Utf16ToGbk(arg, &ok);
    if (!ok) {
      *error = rt::Utf16ToUtf8(arg);
      all_ok = false;
      break;
    }
    out->push_back(gbk);
  }
  LocalFree(wide);
  return all_ok;
}

}  // namespace patchtool

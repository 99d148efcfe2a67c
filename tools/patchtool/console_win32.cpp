#include <io.h>

#include <cstdio>

#include "runtime/encoding.h"
#include "runtime/win32/win.h"
#include "tools/patchtool/console.h"

namespace patchtool {
namespace {

// The console behind a C stream, or nullptr when it is redirected.
HANDLE ConsoleOf(FILE* stream) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

void WriteLine(FILE* stream, const std::string& utf8_line) {
  // Asked once per stream: thousands of lines must not each ask Windows.
  static HANDLE const out_console = ConsoleOf(stdout);
  static HANDLE const err_console = ConsoleOf(stderr);
  HANDLE handle = stream == stdout ? out_console : err_console;
  if (handle != nullptr) {
    // A console shows UTF-16 whatever its code page.
    std::u16string wide = rt::Utf8ToUtf16(utf8_line + "\n");
    std::fflush(stream);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(utf8_line.data(), 1, utf8_line.size(), stream);
  std::fputc('\n', stream);
}

}  // namespace

void PrintOut(const std::string& utf8_line) { WriteLine(stdout, utf8_line); }

void PrintErr(const std::string& utf8_line) {
  std::fflush(stdout);
  WriteLine(stderr, utf8_line);
}

}  // namespace patchtool

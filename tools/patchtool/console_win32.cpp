#include <io.h>

#include <cstdio>

#include "runtime/encoding.h"
#include "runtime/win32/win.h"
#include "tools/patchtool/console.h"

namespace patchtool {
namespace {

// Where a C stream's bytes go.
enum class Sink { kConsole, kCharDevice, kOther };

struct Stream {
  explicit Stream(FILE* file) : file(file) {
    // The handle behind the C stream, so that a redirected stream stays
    // redirected.
    handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
      sink = Sink::kOther;
    else if (GetConsoleMode(handle, &mode))
      sink = Sink::kConsole;
    else if (GetFileType(handle) == FILE_TYPE_CHAR)
      sink = Sink::kCharDevice;
  }
  ~Stream() { Flush(); }

  // The C runtime writes to a character device (NUL, for one) unbuffered,
  // one system call per write; lines for such a device are gathered here.
  void Flush() {
    if (pending.empty()) return;
    std::fwrite(pending.data(), 1, pending.size(), file);
    std::fflush(file);
    pending.clear();
  }

  void WriteLine(const std::string& utf8_line) {
    switch (sink) {
      case Sink::kConsole: {
        // A console shows UTF-16 whatever its code page.
        std::u16string wide = rt::Utf8ToUtf16(utf8_line + "\n");
        std::fflush(file);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        break;
      }
      case Sink::kCharDevice:
        pending += utf8_line;
        pending += '\n';
        if (pending.size() >= kGatherBytes) Flush();
        break;
      case Sink::kOther:
        std::fwrite(utf8_line.data(), 1, utf8_line.size(), file);
        std::fputc('\n', file);
        break;
    }
  }

  // A message takes the line of a progress line standing there; the next
  // redraw puts the progress below it.
  void ClearProgress() {
    if (drawn == 0 || sink != Sink::kConsole) return;
    const std::u16string blank = u"\r" + std::u16string(drawn, u' ') + u"\r";
    drawn = 0;
    DWORD written = 0;
    WriteConsoleW(handle, blank.data(), static_cast<DWORD>(blank.size()), &written, nullptr);
  }

  // Draws over the line the cursor is on; consoles only.
  void WriteOver(const std::string& utf8_line, bool last) {
    if (sink != Sink::kConsole) return;
    std::u16string wide = u"\r" + rt::Utf8ToUtf16(utf8_line);
    const size_t length = wide.size() - 1;
    if (length < drawn) wide.append(drawn - length, u' ');
    drawn = last ? 0 : length;
    if (last) wide += u'\n';
    std::fflush(file);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  }

  static constexpr size_t kGatherBytes = 1 << 16;
  FILE* file;
  HANDLE handle = nullptr;
  Sink sink = Sink::kOther;
  std::string pending;
  size_t drawn = 0;  // characters of the progress line drawn before
};

// Asked once per stream: thousands of lines must not each ask Windows.
Stream& Out() {
  static Stream stream(stdout);
  return stream;
}
Stream& Err() {
  static Stream stream(stderr);
  return stream;
}

}  // namespace

void PrintOut(const std::string& utf8_line) {
  Err().ClearProgress();
  Out().WriteLine(utf8_line);
}

void PrintErr(const std::string& utf8_line) {
  Out().Flush();
  std::fflush(stdout);
  Err().ClearProgress();
  Err().WriteLine(utf8_line);
  Err().Flush();
}

bool ProgressShown() { return Err().sink == Sink::kConsole; }

void ShowProgress(const std::string& utf8_line, bool last) {
  Out().Flush();
  Err().WriteOver(utf8_line, last);
}

}  // namespace patchtool

#include <cstdlib>
#include <vector>

#include "runtime/process.h"
#include "runtime/win32/unique_handle.h"
#include "runtime/win32/wide.h"
#include "runtime/win32/win.h"

namespace rt {
namespace {

constexpr DWORD kInputIdleWaitMs = 1000;

// Static initialisation runs on the main thread.
const DWORD g_main_thread = GetCurrentThreadId();

std::wstring ModulePathWide() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

// The text in GBK when GBK can write it, else empty.
Text InGbk(const std::wstring& wide) {
  Text gbk = FromWide(wide);
  return !gbk.empty() && Wide(gbk) == wide ? gbk : Text();
}

std::wstring ShortPath(const std::wstring& path) {
  DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (n == 0) return std::wstring();
  std::wstring out(n, L'\0');
  n = GetShortPathNameW(path.c_str(), &out[0], n);
  if (n == 0 || n >= out.size()) return std::wstring();
  out.resize(n);
  return out;
}

// The own path as folder and name in GBK. A part that GBK cannot write (a
// user folder with ö, é or Hangul) is taken in its short 8.3 form, which the
// volume may keep in plain letters; a part that fits neither way is empty.
struct OwnPath {
  Text folder;
  Text name;
};

OwnPath ModulePath() {
  const std::wstring wide = ModulePathWide();
  const size_t slash = wide.rfind(L'\\');  // UTF-16 has no trail-byte clash
  if (slash == std::wstring::npos) return OwnPath{Text(), InGbk(wide)};
  const std::wstring folder = wide.substr(0, slash);
  OwnPath out{InGbk(folder), InGbk(wide.substr(slash + 1))};
  if (out.folder.empty() || out.name.empty()) {
    const std::wstring short_path = ShortPath(wide);
    const size_t short_slash = short_path.rfind(L'\\');
    if (short_slash != std::wstring::npos) {
      if (out.folder.empty()) out.folder = InGbk(short_path.substr(0, short_slash));
      if (out.name.empty()) out.name = InGbk(short_path.substr(short_slash + 1));
    }
  }
  return out;
}

}  // namespace

// GBK paths are never split here at a byte 0x5C: the split happens in UTF-16
// (a GBK name such as 運行遊戲.exe holds 0x5C as a trail byte).
Text RunDirectory() { return ModulePath().folder; }

Text ExecutableName() { return ModulePath().name; }

TextArray CommandLineArguments() { return SplitCommandLine(FromWide(std::wstring(GetCommandLineW()))); }

bool RunProgram(const Text& command_line, bool wait, int32_t show_mode) {
  std::wstring command = Wide(command_line);
  if (command.empty()) return false;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(ShowModeToShowCommand(show_mode));
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  const UniqueHandle process_handle(process.hProcess), thread_handle(process.hThread);
  if (wait)
    WaitForSingleObject(process_handle.get(), INFINITE);
  else
    WaitForInputIdle(process_handle.get(), kInputIdleWaitMs);
  return true;
}

void ProcessEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    if (msg.message == WM_QUIT) return;  // stays queued for the message loop
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return;
    if (msg.message == WM_QUIT) {  // raced in ahead of what we saw: put it back
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void DelayWithEvents(int32_t milliseconds) {
  if (milliseconds <= 0) return;
  DWORD start = GetTickCount();
  for (;;) {
    ProcessEvents();
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= static_cast<DWORD>(milliseconds)) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(milliseconds) - elapsed, QS_ALLINPUT);
  }
}

uint32_t TickCount() { return GetTickCount(); }

void EndProgram(int32_t exit_code) {
  if (GetCurrentThreadId() != g_main_thread) EndProgramNow(exit_code);
  std::exit(exit_code);
}

void EndProgramNow(int32_t exit_code) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exit_code));
  for (;;) ExitProcess(static_cast<UINT>(exit_code));
}

}  // namespace rt

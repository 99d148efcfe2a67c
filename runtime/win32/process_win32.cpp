#include <cstdlib>
#include <vector>

#include "runtime/process.h"
#include "runtime/win32/wide.h"
#include "runtime/win32/win.h"

namespace rt {
namespace {

constexpr DWORD kInputIdleWaitMs = 1000;

// Static initialisation runs on the main thread.
const DWORD g_main_thread = GetCurrentThreadId();

Text ModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return Text();
    if (n < buffer.size()) return FromWide(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

Text RunDirectory() {
  Text path = ModulePath();
  size_t slash = path.rfind('\\');
  return slash == Text::npos ? Text() : path.substr(0, slash);
}

Text ExecutableName() {
  Text path = ModulePath();
  size_t slash = path.rfind('\\');
  return slash == Text::npos ? path : path.substr(slash + 1);
}

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
  if (wait)
    WaitForSingleObject(process.hProcess, INFINITE);
  else
    WaitForInputIdle(process.hProcess, kInputIdleWaitMs);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
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

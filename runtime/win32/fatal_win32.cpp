#include "runtime/memory.h"
#include "runtime/win32/win.h"

namespace rt {

void FatalError(const char* gbk_message) {
  // Converted on the stack: this also reports a failed allocation.
  wchar_t text[512];
  int n = MultiByteToWideChar(936, 0, gbk_message, -1, text, 511);
  text[n > 0 ? n : 0] = 0;
  MessageBoxW(nullptr, text, L"\x9519\x8BEF", MB_OK | MB_ICONERROR | MB_TASKMODAL);  // "错误"
  TerminateProcess(GetCurrentProcess(), 1);
  for (;;) ExitProcess(1);
}

}  // namespace rt

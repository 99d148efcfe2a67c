// A helper of the end-to-end tests standing in for a running game that holds
// one of its files: opens FILE (creating it if missing) without any sharing,
// writes MARKER once it holds it, and lets go when RELEASE appears (after
// three minutes at the latest, so no test can hang on it).
//   file_holder.exe FILE MARKER RELEASE
#include "runtime/win32/win.h"

namespace {
constexpr int kPollMs = 100;
constexpr int kMaxPolls = 1800;
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  HANDLE held = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  HANDLE marker = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  for (int i = 0; i < kMaxPolls && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(kPollMs);
  CloseHandle(held);
  return 0;
}

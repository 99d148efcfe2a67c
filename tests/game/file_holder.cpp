// A helper of the end-to-end tests standing in for a running game that holds
// one of its files: opens FILE (creating it if missing) without any sharing,
// writes MARKER once it holds it, and lets go when RELEASE appears (after
// three minutes at the latest, so no test can hang on it). MARKER and
// RELEASE default to FILE.held and FILE.release.
//   file_holder.exe FILE [MARKER RELEASE]
#include <string>

#include "runtime/win32/win.h"

namespace {
constexpr int kPollMs = 100;
constexpr int kMaxPolls = 1800;
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 4) return 2;
  const std::wstring file = argv[1];
  const std::wstring marker = argc == 4 ? argv[2] : file + L".held";
  const std::wstring release = argc == 4 ? argv[3] : file + L".release";
  HANDLE held = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  HANDLE marker_file =
      CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker_file != INVALID_HANDLE_VALUE) CloseHandle(marker_file);
  for (int i = 0; i < kMaxPolls && GetFileAttributesW(release.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(kPollMs);
  CloseHandle(held);
  return 0;
}

// A stand-in for a running game that holds one of its files: opens the file
// named by its first argument without sharing, writes "<file>.held" beside it
// once it holds it, and lets go when "<file>.release" appears (or after 120 s).
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) return 2;
  const std::wstring path = argv[1];
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  HANDLE held = CreateFileW((path + L".held").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  // Bounded: 1200 rounds of 100 ms.
  for (int round = 0; round < 1200; ++round) {
    if (GetFileAttributesW((path + L".release").c_str()) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(100);
  }
  CloseHandle(file);
  return 0;
}

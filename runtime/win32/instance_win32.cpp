#include "runtime/win32/win.h"

#include <cstdio>
#include <optional>
#include <string>

#include "runtime/instance.h"
#include "runtime/process.h"
#include "runtime/win32/file_facts_win32.h"
#include "runtime/win32/unique_handle.h"
#include "runtime/win32/wide.h"

namespace rt {

namespace {

// Waits for `mutex` while taking this thread's messages. The process that
// started this one waits for it to be idle for input (WaitForInputIdle) and
// often holds the very lock waited for here: a plain wait would leave it
// waiting out its whole time-out before it ends and lets go.
DWORD WaitTakingMessages(HANDLE mutex, uint32_t wait_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    const DWORD left = elapsed >= wait_ms ? 0 : wait_ms - elapsed;
    const DWORD waited = MsgWaitForMultipleObjects(1, &mutex, FALSE, left, QS_ALLINPUT);
    if (waited != WAIT_OBJECT_0 + 1) return waited;  // the lock, its time-out or a failure
    ProcessEvents();
    if (left == 0) return WaitForSingleObject(mutex, 0);
  }
}

}  // namespace

InstanceLock::InstanceLock(const Text& folder, uint32_t wait_ms) {
  // "Local\": one lock per logon session, which is where a player's
  // launchers run.
  const std::wstring name = Wide("Local\\" + InstanceLockName(folder));
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return;
  handle_ = reinterpret_cast<std::uintptr_t>(mutex);
  // An abandoned mutex (its owner ended without letting go) is ours too.
  const DWORD waited = WaitTakingMessages(mutex, wait_ms);
  owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

InstanceLock::~InstanceLock() {
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  if (mutex == nullptr) return;
  if (owned_) ReleaseMutex(mutex);
  CloseHandle(mutex);
}

namespace {

struct WindowSearch {
  std::wstring folder;
  std::optional<FileIdentity> identity;  // of `folder`, when it can be read
  std::wstring caption;
  HWND found = nullptr;
};

// The folder of a process's executable, without the trailing "\".
std::wstring ProcessFolder(DWORD process_id) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return std::wstring();
  wchar_t path[MAX_PATH * 4];
  DWORD size = sizeof path / sizeof path[0];
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) return std::wstring();
  std::wstring full(path, size);
  const size_t slash = full.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : full.substr(0, slash);
}

// Whether `folder` is the searched one: by identity (another spelling or a
// link to it is the same folder), by the path when an identity is missing.
bool SameFolder(const WindowSearch& search, const std::wstring& folder) {
  if (search.identity.has_value()) {
    const std::optional<FileFacts> facts = ReadFileFactsWide(folder);
    if (facts.has_value()) return facts->identity == *search.identity;
  }
  return CompareStringOrdinal(folder.c_str(), -1, search.folder.c_str(), -1, TRUE) == CSTR_EQUAL;
}

BOOL CALLBACK OnTopLevelWindow(HWND window, LPARAM parameter) {
  WindowSearch& search = *reinterpret_cast<WindowSearch*>(parameter);
  wchar_t caption[256];
  const int length = GetWindowTextW(window, caption, 256);
  if (length <= 0 || search.caption.compare(0, std::wstring::npos, caption, length) != 0) return TRUE;
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  const std::wstring folder = ProcessFolder(process_id);
  if (folder.empty() || !SameFolder(search, folder)) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

bool BringProgramWindowToFront(const Text& folder, const Text& caption) {
  WindowSearch search;
  search.folder = Wide(folder);
  while (!search.folder.empty() && (search.folder.back() == L'\\' || search.folder.back() == L'/'))
    search.folder.pop_back();
  const std::optional<FileFacts> facts = ReadFileFactsWide(search.folder);
  if (facts.has_value()) search.identity = facts->identity;
  search.caption = Wide(caption);
  EnumWindows(OnTopLevelWindow, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return false;
  if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
  SetForegroundWindow(search.found);
  return true;
}

Text LocalTimeText() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

}  // namespace rt

#include "runtime/win32/win.h"
#include <shlobj.h>

#include <map>
#include <mutex>  // std::lock_guard
#include <vector>

#include "runtime/files.h"
#include "runtime/win32/slim_lock.h"
#include "runtime/win32/unique_handle.h"
#include "runtime/win32/wide.h"

namespace rt {
namespace {

constexpr DWORD kReadChunk = 1 << 20;

bool FindEntry(const Text& path, WIN32_FIND_DATAW* data) {
  if (path.empty()) return false;
  const FindHandle find(FindFirstFileW(Wide(path).c_str(), data));
  return static_cast<bool>(find);
}

bool WriteAll(HANDLE h, const std::uint8_t* data, size_t size) {
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

SlimLock g_table_mutex;
std::map<int32_t, HANDLE> g_table;
int32_t g_next_number = 1;

HANDLE HandleOf(int32_t file) {
  std::lock_guard<SlimLock> lock(g_table_mutex);
  auto it = g_table.find(file);
  return it == g_table.end() ? INVALID_HANDLE_VALUE : it->second;
}

}  // namespace

Bytes ReadWholeFile(const Text& path) {
  if (path.empty()) return Bytes();
  const UniqueHandle h(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!h) return Bytes();
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h.get(), &size) || !FitsInMemory(size.QuadPart)) return Bytes();
  Bytes out;
  out.reserve(static_cast<size_t>(size.QuadPart));
  std::vector<std::uint8_t> buffer(kReadChunk);
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h.get(), buffer.data(), kReadChunk, &n, nullptr)) return Bytes();
    if (n == 0) break;
    // The file may have grown since its size was taken.
    if (!FitsInMemory(static_cast<int64_t>(out.size()) + n)) return Bytes();
    out.insert(out.end(), buffer.data(), buffer.data() + n);
  }
  return out;
}

bool WriteWholeFile(const Text& path, const Bytes& data) { return WriteWholeFile(path, data, Bytes()); }

bool WriteWholeFile(const Text& path, const Bytes& first, const Bytes& second) {
  if (path.empty()) return false;
  const UniqueHandle h(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
  if (!h) return false;
  return WriteAll(h.get(), first.data(), first.size()) && WriteAll(h.get(), second.data(), second.size());
}

bool FileExists(const Text& path) {
  WIN32_FIND_DATAW data;
  return FindEntry(path, &data);
}

int64_t FileSize64(const Text& path) {
  WIN32_FIND_DATAW data;
  if (!FindEntry(path, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool RemoveFile(const Text& path) { return !path.empty() && DeleteFileW(Wide(path).c_str()) != 0; }

bool CopyFile(const Text& from, const Text& to) {
  return !from.empty() && !to.empty() && CopyFileW(Wide(from).c_str(), Wide(to).c_str(), FALSE) != 0;
}

bool MoveFile(const Text& from, const Text& to) {
  return !from.empty() && !to.empty() && MoveFileW(Wide(from).c_str(), Wide(to).c_str()) != 0;
}

bool ReplaceFile(const Text& from, const Text& to) {
  return !from.empty() && !to.empty() &&
         MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool SetFileAttributes(const Text& path, uint32_t attributes) {
  DWORD kept = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  return !path.empty() && SetFileAttributesW(Wide(path).c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL) != 0;
}

uint32_t GetFileAttributes(const Text& path) {
  if (path.empty()) return 0xFFFFFFFFu;
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0xFFFFFFFFu;
  return attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
}

void CreateFolderTree(const Text& folder) {
  if (folder.empty()) return;
  // The shell call wants a full path.
  std::wstring wide = Wide(folder);
  wchar_t full[MAX_PATH * 4];
  DWORD n = GetFullPathNameW(wide.c_str(), MAX_PATH * 4, full, nullptr);
  if (n == 0 || n >= MAX_PATH * 4) return;
  // Mostly the folder or its parent exists: one call. The shell's walk over
  // every part of the path costs a dozen look-ups.
  if (CreateDirectoryW(full, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return;
  SHCreateDirectoryExW(nullptr, full, nullptr);
}

bool FolderExists(const Text& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SetCurrentFolder(const Text& folder) {
  // "C:" alone would name the drive's current folder, not its root.
  Text path = (!folder.empty() && folder.back() == ':') ? folder + "\\" : folder;
  return !path.empty() && SetCurrentDirectoryW(Wide(path).c_str()) != 0;
}

int32_t OpenFile(const Text& path, int32_t mode, int32_t share) {
  static const DWORD kAccess[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE,
                                  GENERIC_WRITE, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  static const DWORD kDisposition[] = {OPEN_EXISTING, OPEN_EXISTING, OPEN_EXISTING,
                                       CREATE_ALWAYS, OPEN_ALWAYS,   OPEN_ALWAYS};
  static const DWORD kShare[] = {FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_SHARE_WRITE, FILE_SHARE_READ, 0};
  if (mode < kModeRead || mode > kModeOpenOrCreateRW || share < kShareDenyNone || share > kShareExclusive)
    return 0;
  if (path.empty()) return 0;
  HANDLE h = CreateFileW(Wide(path).c_str(), kAccess[mode - 1], kShare[share - 1], nullptr, kDisposition[mode - 1],
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  std::lock_guard<SlimLock> lock(g_table_mutex);
  int32_t number = g_next_number++;
  g_table[number] = h;
  return number;
}

bool SeekToEnd(int32_t file) {
  HANDLE h = HandleOf(file);
  LARGE_INTEGER zero = {};
  return h != INVALID_HANDLE_VALUE && SetFilePointerEx(h, zero, nullptr, FILE_END);
}

bool SeekFile(int32_t file, int64_t offset) {
  HANDLE h = HandleOf(file);
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return h != INVALID_HANDLE_VALUE && offset >= 0 && SetFilePointerEx(h, to, nullptr, FILE_BEGIN);
}

int64_t FilePosition(int32_t file) {
  HANDLE h = HandleOf(file);
  LARGE_INTEGER zero = {}, position;
  if (h == INVALID_HANDLE_VALUE || !SetFilePointerEx(h, zero, &position, FILE_CURRENT)) return -1;
  return position.QuadPart;
}

bool WriteToFile(int32_t file, const Bytes& data) { return WriteToFile(file, data.data(), data.size()); }

bool WriteToFile(int32_t file, const std::uint8_t* data, size_t size) {
  HANDLE h = HandleOf(file);
  if (h == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  // On failure step back over what did get written: the position is where it
  // was, without asking for it before every write.
  size_t written = 0;
  while (written < size) {
    size_t left = size - written;
    DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD n = 0;
    const BOOL wrote = WriteFile(h, data + written, chunk, &n, nullptr);
    if (!wrote || n == 0) {
      // The write's own error outlives the step back, for LastFileError: the
      // thread's last error is the per-thread store Windows already keeps.
      const DWORD error = wrote ? ERROR_WRITE_FAULT : GetLastError();
      LARGE_INTEGER back;
      back.QuadPart = -static_cast<LONGLONG>(written);
      SetFilePointerEx(h, back, nullptr, FILE_CURRENT);
      SetLastError(error);
      return false;
    }
    written += n;
  }
  return true;
}

uint32_t LastFileError() { return GetLastError(); }

bool LastFileErrorIsDiskFull() {
  const DWORD error = GetLastError();
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

int64_t ReadFromFile(int32_t file, std::uint8_t* out, size_t size) {
  HANDLE h = HandleOf(file);
  if (h == INVALID_HANDLE_VALUE) return -1;
  DWORD n = 0;
  DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!ReadFile(h, out, want, &n, nullptr)) return -1;
  return n;
}

bool FlushFile(int32_t file) {
  HANDLE h = HandleOf(file);
  return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
}

void CloseFile(int32_t file) {
  HANDLE h = INVALID_HANDLE_VALUE;
  {
    std::lock_guard<SlimLock> lock(g_table_mutex);
    auto it = g_table.find(file);
    if (it == g_table.end()) return;
    h = it->second;
    g_table.erase(it);
  }
  CloseHandle(h);
}

}  // namespace rt

#include "runtime/win32/win.h"

#include "runtime/win32/file_facts_win32.h"
#include "runtime/win32/unique_handle.h"
#include "runtime/win32/wide.h"

namespace rt {
namespace {

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

std::optional<FileFacts> ReadFileFacts(const Text& path) {
  if (path.empty()) return std::nullopt;
  return ReadFileFactsWide(Wide(path));
}

std::optional<FileFacts> ReadFileFactsWide(std::wstring path) {
  if (path.empty()) return std::nullopt;
  // "C:" alone would name the drive's current folder, not its root.
  if (path.back() == L':') path += L'\\';
  // No data access: sharing rules do not apply to attribute reading, so a
  // file held open without sharing still answers. Backup semantics let a
  // folder open as well.
  const UniqueHandle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h.get(), &info)) return std::nullopt;
  FileFacts facts;
  facts.is_folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.size = facts.is_folder ? 0 : static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) |
                                                          info.nFileSizeLow);
  facts.last_write_time = Ticks(info.ftLastWriteTime);
  facts.creation_time = Ticks(info.ftCreationTime);
  facts.identity.volume_serial = info.dwVolumeSerialNumber;
  facts.identity.file_index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return facts;
}

uint64_t FileTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

}  // namespace rt

#include "runtime/win32/win.h"

#include <winternl.h>

#include <algorithm>

#include "runtime/text.h"
#include "runtime/win32/file_facts_win32.h"
#include "runtime/win32/unique_handle.h"
#include "runtime/win32/wide.h"

namespace rt {
namespace {

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t Ticks(const LARGE_INTEGER& time) { return static_cast<uint64_t>(time.QuadPart); }

// The file's number on its volume, as GetFileInformationByHandle's index
// (FileInternalInformation, which the ...Ex function does not offer).
struct InternalInformation {
  LARGE_INTEGER index_number;
};
constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);

// "C:\game\data\a.dat" -> "C:\game\data"; "a.dat" -> "." (the current
// folder); "\a.dat" -> "\". A GBK trail byte 0x5C is no separator.
Text FolderOf(const Text& path) {
  const size_t back = FindLastChar(path, '\\');
  const size_t slash = FindLastChar(path, '/');
  size_t cut = back == Text::npos ? slash : (slash == Text::npos ? back : std::max(back, slash));
  if (cut == Text::npos) return ".";
  if (cut == 0) return path.substr(0, 1);
  return path.substr(0, cut);
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

std::optional<FileFacts> FileFactsReader::Read(const Text& path) {
  if (path.empty()) return std::nullopt;
  std::wstring wide = Wide(path);
  if (wide.back() == L':') return ReadFileFactsWide(wide);
  // The name itself, not what a link leads to: a link is looked at whole.
  const UniqueHandle h(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h) return ReadFileFactsWide(wide);
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  InternalInformation internal;
  IO_STATUS_BLOCK status;
  if (!GetFileInformationByHandleEx(h.get(), FileBasicInfo, &basic, sizeof basic) ||
      (basic.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      !GetFileInformationByHandleEx(h.get(), FileStandardInfo, &standard, sizeof standard) ||
      NtQueryInformationFile(h.get(), &status, &internal, sizeof internal, kFileInternalInformation) != 0) {
    return ReadFileFactsWide(wide);
  }
  const Text folder = FolderOf(path);
  auto volume = folder_volumes_.find(folder);
  if (volume == folder_volumes_.end()) {
    const std::optional<FileFacts> folder_facts = ReadFileFacts(folder);
    volume = folder_volumes_
                 .emplace(folder, folder_facts ? std::optional<uint64_t>(folder_facts->identity.volume_serial)
                                               : std::nullopt)
                 .first;
  }
  if (!volume->second) return ReadFileFactsWide(wide);
  FileFacts facts;
  facts.size = static_cast<int64_t>(standard.EndOfFile.QuadPart);
  facts.last_write_time = Ticks(basic.LastWriteTime);
  facts.creation_time = Ticks(basic.CreationTime);
  facts.identity.volume_serial = *volume->second;
  facts.identity.file_index = static_cast<uint64_t>(internal.index_number.QuadPart);
  return facts;
}

uint64_t FileTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

}  // namespace rt

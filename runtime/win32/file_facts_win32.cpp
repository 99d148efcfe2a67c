#include "runtime/win32/win.h"

#include <winternl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "runtime/text.h"
#include "runtime/win32/file_facts_win32.h"
#include "runtime/win32/unique_handle.h"
#include "runtime/win32/wide.h"

// Upper case as the file system folds names (ntdll; not in the headers).
extern "C" WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR c);

// The file's index, as GetFileInformationByHandle gives it, without the
// volume query that call makes.
struct InternalIndex {
  LARGE_INTEGER index_number;
};

namespace rt {
namespace {

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Bytes asked of the system per round of a folder's listing.
constexpr size_t kListingBufferBytes = 64 * 1024;

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

// One folder's listing: its volume and the file index of every name.
struct FolderListing {
  bool usable = false;
  uint64_t volume_serial = 0;
  std::map<std::wstring, uint64_t> indexes;  // upper-cased name -> index; 0 where two names fold alike
};

struct FileFactsReader::Folders {
  std::map<Text, FolderListing> listings;  // by the folder's path as written
  std::map<Text, uint32_t> volume_serials;  // ReadPlaced's, by folder
  size_t listed = 0;
};

FileFactsReader::FileFactsReader() : folders_(std::make_unique<Folders>()) {}
FileFactsReader::~FileFactsReader() = default;
FileFactsReader::FileFactsReader(FileFactsReader&&) noexcept = default;
FileFactsReader& FileFactsReader::operator=(FileFactsReader&&) noexcept = default;

namespace {

// Names compare as the file system compares them: without letter case.
std::wstring Folded(std::wstring name) {
  for (wchar_t& c : name) c = RtlUpcaseUnicodeChar(c);
  return name;
}

// Lists `folder` (links followed, as ReadFileFacts follows them): its
// volume serial and every entry's index. Bounded: every round of the system
// call returns at least one entry or ends the listing.
FolderListing ListFolder(const Text& folder) {
  FolderListing listing;
  std::wstring path = Wide(folder);
  if (!path.empty() && path.back() == L':') path += L'\\';
  const UniqueHandle h(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h || !GetFileInformationByHandle(h.get(), &info)) return listing;
  listing.volume_serial = info.dwVolumeSerialNumber;
  std::vector<std::uint8_t> buffer(kListingBufferBytes);
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(h.get(), kind, buffer.data(), static_cast<DWORD>(buffer.size()))) {
    kind = FileIdBothDirectoryInfo;
    size_t at = 0;
    for (;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
      const std::wstring name = Folded(std::wstring(entry->FileName, entry->FileNameLength / sizeof(wchar_t)));
      const auto [it, fresh] = listing.indexes.emplace(name, static_cast<uint64_t>(entry->FileId.QuadPart));
      if (!fresh) it->second = 0;
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
  listing.usable = GetLastError() == ERROR_NO_MORE_FILES;
  return listing;
}

}  // namespace

std::optional<FileFacts> FileFactsReader::Read(const Text& path) {
  if (path.empty()) return std::nullopt;
  const std::wstring wide = Wide(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return ReadFileFactsWide(wide);
  }
  const Text folder = FolderOf(path);
  auto listing = folders_->listings.find(folder);
  if (listing == folders_->listings.end()) listing = folders_->listings.emplace(folder, ListFolder(folder)).first;
  if (!listing->second.usable) return ReadFileFactsWide(wide);
  const size_t separator = wide.find_last_of(L"\\/");
  const std::wstring name = separator == std::wstring::npos ? wide : wide.substr(separator + 1);
  const auto index = listing->second.indexes.find(Folded(name));
  if (index == listing->second.indexes.end() || index->second == 0) return ReadFileFactsWide(wide);
  FileFacts facts;
  facts.size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  facts.last_write_time = Ticks(data.ftLastWriteTime);
  facts.creation_time = Ticks(data.ftCreationTime);
  facts.identity.volume_serial = listing->second.volume_serial;
  facts.identity.file_index = index->second;
  ++folders_->listed;
  return facts;
}

std::optional<FileFacts> FileFactsReader::ReadPlaced(const Text& path) {
  if (path.empty()) return std::nullopt;
  const std::wstring wide = Wide(path);
  const UniqueHandle h(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h) return std::nullopt;
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  InternalIndex internal;
  IO_STATUS_BLOCK status;
  if (!GetFileInformationByHandleEx(h.get(), FileBasicInfo, &basic, sizeof(basic)) ||
      !GetFileInformationByHandleEx(h.get(), FileStandardInfo, &standard, sizeof(standard)) ||
      NtQueryInformationFile(h.get(), &status, &internal, sizeof(internal),
                             FileInternalInformation) != 0 ||
      (basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return ReadFileFactsWide(wide);  // a link or a folder: followed, as Read does
  }
  const Text folder = FolderOf(path);
  auto serial = folders_->volume_serials.find(folder);
  if (serial == folders_->volume_serials.end()) {
    DWORD volume_serial = 0;
    if (!GetVolumeInformationByHandleW(h.get(), nullptr, 0, &volume_serial, nullptr, nullptr, nullptr, 0)) {
      return ReadFileFactsWide(wide);
    }
    serial = folders_->volume_serials.emplace(folder, volume_serial).first;
  }
  FileFacts facts;
  facts.size = standard.EndOfFile.QuadPart;
  facts.last_write_time = static_cast<uint64_t>(basic.LastWriteTime.QuadPart);
  facts.creation_time = static_cast<uint64_t>(basic.CreationTime.QuadPart);
  facts.identity.volume_serial = serial->second;
  facts.identity.file_index = static_cast<uint64_t>(internal.index_number.QuadPart);
  return facts;
}

size_t FileFactsReader::listed() const { return folders_->listed; }

uint64_t FileTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

}  // namespace rt

#include "runtime/win32/win.h"

#include "runtime/file_access.h"
#include "runtime/system_error.h"
#include "runtime/win32/unique_handle.h"
#include "runtime/win32/wide.h"

namespace rt {
namespace {

AccessCheck Failed(WriteAccess access, DWORD error) { return AccessCheck{access, static_cast<uint32_t>(error)}; }

// A write refused for want of room says so; any other refusal is a denial.
AccessCheck WriteRefused(DWORD error) {
  return Failed(IsDiskFullError(error) ? WriteAccess::kDiskFull : WriteAccess::kDenied, error);
}

}  // namespace

AccessCheck ProbeFolderWritable(const Text& folder) {
  const std::wstring path = Wide(folder.empty() ? Text(kProbeFileName) : folder + "\\" + kProbeFileName);
  {
    UniqueHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                               nullptr));
    if (!h) return WriteRefused(GetLastError());
    const char byte = 0;
    DWORD written = 0;
    if (!WriteFile(h.get(), &byte, 1, &written, nullptr) || written != 1) {
      const DWORD error = GetLastError();
      h = UniqueHandle();
      DeleteFileW(path.c_str());
      return WriteRefused(error);
    }
  }
  if (!DeleteFileW(path.c_str())) return Failed(WriteAccess::kDenied, GetLastError());
  return AccessCheck{};
}

int64_t FreeDiskSpace(const Text& folder) {
  // Quotas count: the room available to this user, not the disk's own.
  ULARGE_INTEGER available;
  const std::wstring wide = Wide(folder.empty() || folder.back() == '\\' ? folder : folder + "\\");
  if (!GetDiskFreeSpaceExW(folder.empty() ? nullptr : wide.c_str(), &available, nullptr, nullptr)) return -1;
  return available.QuadPart > static_cast<ULONGLONG>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(available.QuadPart);
}

EntryKind EntryKindOf(const Text& path) {
  if (path.empty()) return EntryKind::kNothing;
  // GetFileAttributesW does not follow a reparse point at the end of a path.
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::kNothing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::kLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kFolder : EntryKind::kFile;
}

Text ResolveLink(const Text& path) {
  if (path.empty()) return Text();
  // Opened through the link (no FILE_FLAG_OPEN_REPARSE_POINT): a junction, a
  // symbolic link or a mount point to a missing target fails here. Folders
  // open only with backup semantics; no access right is asked for.
  UniqueHandle h(CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) return Text();
  std::wstring target(MAX_PATH, L'\0');
  // Bounded: a second call with the length the first one asked for.
  for (int round = 0; round < 2; ++round) {
    const DWORD length = GetFinalPathNameByHandleW(h.get(), target.data(), static_cast<DWORD>(target.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return Text();
    if (length < target.size()) {
      target.resize(length);
      break;
    }
    target.assign(length + 1, L'\0');
  }
  if (!target.empty() && target.back() == L'\0') return Text();  // both rounds too short
  // "\\?\D:\data" to "D:\data", "\\?\UNC\server\share" to "\\server\share".
  if (target.compare(0, 8, L"\\\\?\\UNC\\") == 0) return "\\\\" + FromWide(target.substr(8));
  if (target.compare(0, 4, L"\\\\?\\") == 0) return FromWide(target.substr(4));
  return FromWide(target);
}

AccessCheck ProbeReplaceable(const Text& path) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return AccessCheck{};
    return Failed(IsInUseError(error) ? WriteAccess::kInUse : WriteAccess::kDenied, error);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Failed(WriteAccess::kDenied, ERROR_DIRECTORY);
  if ((attributes & FILE_ATTRIBUTE_READONLY) &&
      !SetFileAttributesW(wide.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    return Failed(WriteAccess::kDenied, GetLastError());
  }
  UniqueHandle h(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) {
    const DWORD error = GetLastError();
    return Failed(IsInUseError(error) ? WriteAccess::kInUse : WriteAccess::kDenied, error);
  }
  return AccessCheck{};
}

}  // namespace rt

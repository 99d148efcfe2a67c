#pragma once
// What one look at a file tells without reading it: its size, times and
// identity. Enough to see that a file is the one seen before and unchanged
// since (a checksum cache), or that two spellings of a path name one folder
// (the instance lock).
#include <cstdint>
#include <optional>

#include "runtime/types.h"

namespace rt {

// Which file a path leads to, however it is spelled and through whatever
// links: the volume and the file's number on it. Windows: the volume serial
// and file index of GetFileInformationByHandle; POSIX: st_dev and st_ino.
struct FileIdentity {
  uint64_t volume_serial = 0;
  uint64_t file_index = 0;

  bool operator==(const FileIdentity& other) const {
    return volume_serial == other.volume_serial && file_index == other.file_index;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// Times count 100-nanosecond intervals since 1601-01-01 UTC (a Windows
// FILETIME) on every system.
constexpr uint64_t kFileTimeTicksPerSecond = 10000000;

struct FileFacts {
  int64_t size = 0;  // 0 for a folder
  uint64_t last_write_time = 0;
  // When the file was made. POSIX keeps no such time; the inode change time
  // (st_ctim) stands in: it moves whenever the file is replaced or changed.
  uint64_t creation_time = 0;
  FileIdentity identity;
  bool is_folder = false;
};

// One open and one GetFileInformationByHandle on Windows (attribute reading
// only, every sharing allowed, so a file the game holds open still answers;
// folders too), stat on POSIX. Links are followed. Empty when the path names
// nothing or cannot be opened.
std::optional<FileFacts> ReadFileFacts(const Text& path);

// The current time in the unit of FileFacts' times.
uint64_t FileTimeNow();

}  // namespace rt

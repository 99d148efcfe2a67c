#pragma once
// What one look at a file tells without reading it: its size, times and
// identity. Enough to see that a file is the one seen before and unchanged
// since (a checksum cache), or that two spellings of a path name one folder
// (the instance lock).
#include <cstdint>
#include <memory>
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

// ReadFileFacts for many files in a few folders (the checksum cache's look
// over a whole client): the same facts, at the cost of a listing. Windows:
// each folder is listed once, with its volume serial and every name's file
// index (FileIdBothDirectoryInfo); a file's size and times come from one
// look by its path (GetFileAttributesExW, the file's own current values, not
// the copy in the folder's entry). Links, folders, names the listing does not
// hold (a short 8.3 name) and file systems that list no index (FAT) are
// looked at as ReadFileFacts does. Under Wine this is a tenth of the cost of
// opening every file (an open is a round trip to the Wine server that passes
// a descriptor; the volume query, a call to another process). A folder is
// listed when first asked: a file swapped into it later in the same pass
// shows its new times with the old index. POSIX: one stat each.
class FileFactsReader {
 public:
  FileFactsReader();
  ~FileFactsReader();
  FileFactsReader(FileFactsReader&&) noexcept;
  FileFactsReader& operator=(FileFactsReader&&) noexcept;

  std::optional<FileFacts> Read(const Text& path);
  // The facts of a file just put in place (the run's installed files): one
  // open, with the volume serial kept per folder instead of asked of the
  // system for every file (under Wine a call to another process). The same
  // facts as Read gives for it later. POSIX: one stat.
  std::optional<FileFacts> ReadPlaced(const Text& path);
  // Files answered from a folder's listing so far (the rest were looked at
  // one by one; always 0 on POSIX).
  size_t listed() const;

 private:
  struct Folders;                    // the listings made so far (Windows)
  std::unique_ptr<Folders> folders_;
};

}  // namespace rt

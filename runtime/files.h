#pragma once
// Files and folders. Paths are GBK texts; the Windows backend converts them
// with code page 936 and calls the W functions, the POSIX backend converts
// them to UTF-8. Relative paths resolve against the current folder.
#include <cstddef>
#include <cstdint>

#include "runtime/scoped_handle.h"
#include "runtime/types.h"

namespace rt {

// The whole content; an empty path or any failure gives the empty buffer, and
// so does a file larger than FitsInMemory allows.
Bytes ReadWholeFile(const Text& path);
// Whether a buffer of `size` bytes can be held by this process at all: half
// the address space at most (a 32-bit process cannot hold a 3 GiB file, and a
// size cut to 32 bits would read as a small one).
bool FitsInMemory(int64_t size);
// Creates or truncates the file (exclusive writing) and writes every buffer in
// order; true on success.
bool WriteWholeFile(const Text& path, const Bytes& data);
bool WriteWholeFile(const Text& path, const Bytes& first, const Bytes& second);

// True when a directory search for the path finds an entry (files and folders).
bool FileExists(const Text& path);
// The size in bytes (low 32 bits) from a directory search, -1 when nothing is found.
int32_t FileSize(const Text& path);
// The full 64-bit size, -1 when nothing is found.
int64_t FileSize64(const Text& path);

bool RemoveFile(const Text& path);
// Overwrites an existing target.
bool CopyFile(const Text& from, const Text& to);
// Fails when the target exists.
bool MoveFile(const Text& from, const Text& to);
// Puts `from` in the place of `to` in one step, replacing an existing target
// (MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH on
// Windows, rename(2) on POSIX): a reader sees the old file or the new one,
// never a half-written one. Both must be on one volume. True on success;
// on failure both files stay as they were.
[[nodiscard]] bool ReplaceFile(const Text& from, const Text& to);

// Attribute bits kept by SetFileAttributes.
constexpr uint32_t kAttrReadOnly = 0x1;
constexpr uint32_t kAttrHidden = 0x2;
constexpr uint32_t kAttrSystem = 0x4;
constexpr uint32_t kAttrArchive = 0x20;
// Sets the attributes masked to read-only, hidden, system and archive. On POSIX
// read-only clears the write permission bits; the others have no equivalent.
bool SetFileAttributes(const Text& path, uint32_t attributes);
// The attributes as SetFileAttributes sees them, 0xFFFFFFFF when missing.
uint32_t GetFileAttributes(const Text& path);
// Clears the read-only attribute of an existing file, keeping the others, so
// that it can be removed or replaced. True when the file is writable after.
bool MakeWritable(const Text& path);

// True when a file or folder name names a Windows device (CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM1-9, LPT1-9) in any letter case, also with an extension
// or blanks around the base name ("nul.txt", "con .log").
bool IsReservedDeviceName(const Text& name);

// The folder part of a path: the bytes before its last "\" (GBK-aware: a
// trail byte 0x5C is no separator), or empty when it has none.
Text ParentFolderOf(const Text& path);
// Creates a folder with all its missing parents. Existing folders and
// failures are silent.
void CreateFolderTree(const Text& folder);
// True when the path names an existing folder.
bool FolderExists(const Text& path);
// Makes `folder` the process's current folder; true on success.
bool SetCurrentFolder(const Text& folder);

// ---- Open-file table --------------------------------------------------------

// OpenFile modes.
enum FileMode : int32_t {
  kModeRead = 1,             // existing file, read
  kModeWrite = 2,            // existing file, write
  kModeReadWrite = 3,        // existing file, read and write
  kModeCreateWrite = 4,      // create or truncate, write
  kModeOpenOrCreate = 5,     // create if missing, write, never truncate
  kModeOpenOrCreateRW = 6,   // create if missing, read and write, never truncate
};
// OpenFile sharing.
enum FileShare : int32_t {
  kShareDenyNone = 1,
  kShareDenyRead = 2,
  kShareDenyWrite = 3,
  kShareExclusive = 4,
};

// A file number (> 0), or 0 on failure or when mode or sharing is out of
// range. Sharing is enforced as Windows does, between opens of this process on
// POSIX.
int32_t OpenFile(const Text& path, int32_t mode = kModeReadWrite, int32_t share = kShareDenyNone);
bool SeekToEnd(int32_t file);
// Moves to a 0-based byte offset from the start.
bool SeekFile(int32_t file, int64_t offset);
// The current 0-based position, -1 for a bad file number.
int64_t FilePosition(int32_t file);
// Writes at the current position; on failure the position is moved back to
// where it was. True on success.
bool WriteToFile(int32_t file, const Bytes& data);
bool WriteToFile(int32_t file, const std::uint8_t* data, size_t size);
// The system error of the calling thread's last failed WriteToFile (errno on
// POSIX, the Windows error code on Windows); read it right after the failure,
// before other file calls on that thread.
uint32_t LastFileError();
// Whether that error says the disk (or the user's quota) is full: ENOSPC or
// EDQUOT, ERROR_DISK_FULL or ERROR_HANDLE_DISK_FULL.
bool LastFileErrorIsDiskFull();
// Reads up to `size` bytes at the current position into `out`; returns the
// count read, 0 at the end, -1 on failure.
int64_t ReadFromFile(int32_t file, std::uint8_t* out, size_t size);
void CloseFile(int32_t file);
// Brings the file's written bytes to the disk (FlushFileBuffers, fsync);
// false when the system refused (the error then in LastFileError).
[[nodiscard]] bool FlushFile(int32_t file);
// Reads from the current position until `out` holds `size` bytes or the file
// ends (a single read may return fewer); the count read, short only at the
// end, or -1 on a failure.
int64_t ReadFull(int32_t file, std::uint8_t* out, size_t size);
// Fills `out` completely from the current position; false on a failure or an
// early end.
bool ReadExactly(int32_t file, std::uint8_t* out, size_t size);

// Owns a file number (0: none) and closes it when it goes: the one
// move-only owner with the open-file table's release function.
struct FileNumberTraits {
  using Handle = int32_t;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle number) { return number != 0; }
  static void Close(Handle number) { CloseFile(number); }
};
using OpenedFile = ScopedHandle<FileNumberTraits>;

}  // namespace rt

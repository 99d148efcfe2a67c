#pragma once
// Where the body of one download goes. A file target assembles the body in
// its partial file "<path>.tmp", open for appending while the body arrives
// (other writers denied), and installs it over the path once complete; the
// partial file outlives the call so that the next one can resume it. A
// memory target appends to a caller's buffer (none: the body is dropped) and
// never looks at a partial file.
#include <cstddef>
#include <cstdint>

#include "net/body_observer.h"
#include "runtime/files.h"
#include "runtime/types.h"

namespace net {

// Appended to the target path for the file the body is assembled in.
constexpr const char kPartialSuffix[] = ".tmp";
// Piece in which a partial file's bytes are read back for an observer.
constexpr size_t kPartialReadSize = 262144;

class DownloadTarget {
 public:
  static DownloadTarget File(const rt::Text& save_path);
  static DownloadTarget Memory(rt::Bytes* body);

  DownloadTarget(DownloadTarget&&) = default;
  DownloadTarget& operator=(DownloadTarget&&) = default;
  DownloadTarget(const DownloadTarget&) = delete;
  DownloadTarget& operator=(const DownloadTarget&) = delete;

  bool IsMemory() const { return memory_; }
  const rt::Text& SavePath() const { return save_path_; }
  const rt::Text& PartialPath() const { return partial_path_; }

  // The size of a partial file left by an earlier call, which the request
  // then resumes; -1 when there is none (always, for memory).
  int64_t ResumableSize() const;
  // Makes ready for the body: the buffer is emptied, or the partial file
  // opened for appending (emptied first when `restart`: the server sent the
  // whole resource). False when the partial file cannot be opened.
  [[nodiscard]] bool Begin(bool restart);
  // Appends body bytes, to the buffer or at the end of the partial file.
  // False when the file is not open or the write failed (see WriteError).
  [[nodiscard]] bool Append(const std::uint8_t* data, size_t size);
  // The system error of the write that failed (0: the file was not open or
  // could not be positioned), and whether it says the disk is full.
  uint32_t WriteError() const { return write_error_; }
  bool DiskFull() const { return disk_full_; }
  // Shows the partial file's first `size` bytes to `observer`, read in pieces
  // of kPartialReadSize. False when they cannot all be read.
  [[nodiscard]] bool FeedPartial(BodyObserver& observer, int64_t size) const;
  // Closes the partial file (nothing for memory).
  void End();
  // The partial file's size on disk, -1 when missing.
  int64_t PartialSize() const;
  // Deletes the partial file: its bytes are not a prefix of the resource.
  // True when it is gone (or was never there).
  bool DropPartial();
  // Replaces the target with the complete partial file. A read-only target
  // is made writable first (a client copied from a disc); a target held
  // open by another program cannot go, and the partial file stays.
  [[nodiscard]] bool Install();

 private:
  DownloadTarget() = default;

  bool memory_ = true;
  rt::Text save_path_;
  rt::Text partial_path_;
  rt::Bytes* body_ = nullptr;
  rt::OpenedFile file_;
  uint32_t write_error_ = 0;
  bool disk_full_ = false;
};

}  // namespace net

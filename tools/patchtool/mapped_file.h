#pragma once
// A whole file mapped read-only, for the delta maker's random reads of the
// old file: the pages are the system's file cache, not the process's own
// memory. A 32-bit process cannot map a file of several GiB: is_open() is
// then false, and the caller says so.
#include <cstdint>

#include "runtime/types.h"

namespace patchtool {

class MappedFile {
 public:
  explicit MappedFile(const rt::Text& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // True when mapped (an empty file is open with data() null).
  [[nodiscard]] bool is_open() const { return open_; }
  [[nodiscard]] const std::uint8_t* data() const { return data_; }
  [[nodiscard]] std::uint64_t size() const { return size_; }

 private:
  bool open_ = false;
  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
};

// The most memory this process has held so far, as the system counts it:
// the peak private bytes on Windows (what the commit charge held for it), the
// peak resident set on POSIX. 0 when the system does not tell.
std::uint64_t PeakMemoryBytes();

}  // namespace patchtool

// The checksum of a file on the calling thread: read in pieces into one
// reused buffer, each piece summed right after it is read, while it is still
// in the processor's cache.
//
// Mapped views of the file were tried and dropped: they cost about what cat
// costs on a file written in large pieces, but five to six times as much on
// one written in small pieces (as most programs and the updater's downloads
// write), which the system's cache holds in small pages: every page is then
// a fault to map and a TLB miss to sum. Under Wine a view costs more still.
// Reading into one buffer costs about what cat costs on both (bench/checksum).
// (Reading ahead on a helper thread, so that the next piece is read while the
// last is summed, was slower on two shared cores.)
#include <atomic>

#include "checksum/file_checksum.h"
#include "runtime/files.h"

namespace checksum {
namespace {

// The read buffer of one checksum. The last one is kept for the next call:
// thousands of small files must not each pay for a fresh allocation. A
// second thread summing at the same time takes a fresh one. (A thread_local
// buffer would do the same, but on Windows it brings the POSIX threads
// library and the exception runtime into the updater.)
class ChunkBuffer {
 public:
  ChunkBuffer() : bytes_(spare_.exchange(nullptr)) {
    if (bytes_ == nullptr) bytes_ = new std::uint8_t[kChecksumChunkSize];
  }
  ~ChunkBuffer() { delete[] spare_.exchange(bytes_); }
  ChunkBuffer(const ChunkBuffer&) = delete;
  ChunkBuffer& operator=(const ChunkBuffer&) = delete;
  std::uint8_t* data() { return bytes_; }

 private:
  static std::atomic<std::uint8_t*> spare_;
  std::uint8_t* bytes_;
};

std::atomic<std::uint8_t*> ChunkBuffer::spare_{nullptr};

}  // namespace

std::optional<int32_t> TryFileChecksumOfFile(const rt::Text& path,
                                             const std::function<void()>& between_chunks) {
  if (path.empty()) return std::nullopt;
  rt::OpenedFile file(rt::OpenFile(path, rt::kModeRead, rt::kShareDenyNone));
  if (file.get() == 0) return std::nullopt;
  ChunkBuffer buffer;
  ChecksumAccumulator sum;
  int64_t total = 0;
  for (;;) {
    const int64_t got = rt::ReadFull(file.get(), buffer.data(), kChecksumChunkSize);
    if (got < 0) return std::nullopt;
    sum.Feed(buffer.data(), static_cast<size_t>(got));
    total += got;
    if (between_chunks) between_chunks();
    if (static_cast<size_t>(got) < kChecksumChunkSize) break;
  }
  // Another program cut the file short between two pieces (or added to it
  // after the last): the sum is of no content the file held whole. A file
  // read in one piece needs no look (two calls fewer for most files).
  if (total >= static_cast<int64_t>(kChecksumChunkSize) &&
      (!rt::SeekToEnd(file.get()) || rt::FilePosition(file.get()) != total)) {
    return std::nullopt;
  }
  return sum.Result();
}

int32_t FileChecksumOfFile(const rt::Text& path, const std::function<void()>& between_chunks) {
  return TryFileChecksumOfFile(path, between_chunks).value_or(0);
}

}  // namespace checksum

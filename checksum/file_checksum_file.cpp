// The checksum of a file on the calling thread: a large file through mapped
// views (file_views.h), any other read in pieces, each summed right after it
// is read. (Reading ahead on a helper thread, so that the next piece is read
// while the last is summed, was slower on two shared cores: 1.5 to 1.6 times
// cat against 1.2 to 1.4 for reading and summing in turn, and 1.1 to 1.2 for
// the views.)
#include <atomic>

#include "checksum/file_checksum.h"
#include "checksum/file_views.h"
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
  for (bool first = true;; first = false) {
    const int64_t got = rt::ReadFull(file.get(), buffer.data(), kChecksumChunkSize);
    if (got < 0) return std::nullopt;
    // A file that fills the first piece may be large enough for mapped
    // views; the many smaller files of a client cost no further call.
    if (first && static_cast<size_t>(got) == kChecksumChunkSize) {
      ChecksumAccumulator mapped;
      switch (detail::SumThroughViews(path, rt::FileSize64(path), mapped, between_chunks)) {
        case detail::ViewSum::kDone:
          return mapped.Result();
        case detail::ViewSum::kReadFailed:
          return std::nullopt;
        case detail::ViewSum::kNotMapped:
          break;
      }
    }
    sum.Feed(buffer.data(), static_cast<size_t>(got));
    if (between_chunks) between_chunks();
    if (static_cast<size_t>(got) < kChecksumChunkSize) return sum.Result();
  }
}

int32_t FileChecksumOfFile(const rt::Text& path, const std::function<void()>& between_chunks) {
  return TryFileChecksumOfFile(path, between_chunks).value_or(0);
}

}  // namespace checksum

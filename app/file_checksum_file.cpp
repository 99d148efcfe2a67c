// The checksum of a file, read in chunks. Small files are read and summed
// on the calling thread; big ones are read ahead by a helper thread into a
// ring of buffers while the calling thread sums, so that reading and summing
// overlap.
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "app/file_checksum.h"
#include "runtime/files.h"

namespace app {
namespace {

constexpr size_t kChunkSize = kChecksumChunkSize;  // one read, one hand-over
constexpr int kRingBuffers = 4;  // read-ahead depth
// The first chunks are read on the calling thread: for the many small files
// of a client a helper thread costs more than it saves. A file that goes on
// beyond them gets one. (No size query decides this: on Windows that is a
// directory search, which costs more than reading a small file.)
constexpr int kInlineChunks = 4;

// Fills up to `size` bytes; the count read (short only at the end of the
// file), or -1 on a read failure.
int64_t ReadFull(int32_t file, std::uint8_t* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    const int64_t got = rt::ReadFromFile(file, out + done, size - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

// Reads and sums up to `max_chunks` chunks (all of the file when negative) on
// the calling thread; false on a read failure. `*at_end` tells whether the
// file has ended.
bool SumChunks(int32_t file, int max_chunks, ChecksumAccumulator* sum, bool* at_end,
               const std::function<void()>& between_chunks) {
  // One buffer per thread, kept: thousands of small files must not each pay
  // for a fresh mapping of it.
  thread_local std::vector<std::uint8_t> buffer(kChunkSize);
  *at_end = false;
  for (int chunk = 0; max_chunks < 0 || chunk < max_chunks; ++chunk) {
    const int64_t got = ReadFull(file, buffer.data(), buffer.size());
    if (got < 0) return false;
    sum->Feed(buffer.data(), static_cast<size_t>(got));
    if (between_chunks) between_chunks();
    if (static_cast<size_t>(got) < buffer.size()) {
      *at_end = true;
      break;
    }
  }
  return true;
}

// The reader fills slots in ring order; the summer empties them in the same
// order. A slot's `length` is valid while it is `full`.
class ReadAheadRing {
 public:
  explicit ReadAheadRing(int32_t file) : file_(file) {
    for (auto& slot : slots_) slot.data.resize(kChunkSize);
  }
  ReadAheadRing(const ReadAheadRing&) = delete;
  ReadAheadRing& operator=(const ReadAheadRing&) = delete;
  ~ReadAheadRing() {
    if (reader_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
      }
      changed_.notify_all();
      reader_.join();
    }
  }

  // Starts the reader thread; false when no thread can be made (the caller
  // then reads on by itself).
  bool Start() {
    try {
      reader_ = std::thread([this] { ReadLoop(); });
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  // Continues `sum` with the rest of the file; Start() must have succeeded.
  std::optional<int32_t> Sum(ChecksumAccumulator sum, const std::function<void()>& between_chunks) {
    bool ok = true;
    for (int index = 0;; index = (index + 1) % kRingBuffers) {
      Slot& slot = slots_[index];
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return slot.full; });
      }
      if (slot.length < 0) {
        ok = false;
        break;
      }
      sum.Feed(slot.data.data(), static_cast<size_t>(slot.length));
      const bool last = slot.length < static_cast<int64_t>(kChunkSize);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.full = false;
      }
      changed_.notify_all();
      if (between_chunks) between_chunks();
      if (last) break;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    reader_.join();
    if (!ok) return std::nullopt;
    return sum.Result();
  }

 private:
  struct Slot {
    std::vector<std::uint8_t> data;
    int64_t length = 0;  // bytes read; -1 after a read failure
    bool full = false;
  };

  void ReadLoop() {
    for (int index = 0;; index = (index + 1) % kRingBuffers) {
      Slot& slot = slots_[index];
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !slot.full || stop_; });
        if (stop_) return;
      }
      const int64_t got = ReadFull(file_, slot.data.data(), kChunkSize);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.length = got;
        slot.full = true;
      }
      changed_.notify_all();
      if (got < static_cast<int64_t>(kChunkSize)) return;  // end of file or failure
    }
  }

  int32_t file_;
  std::thread reader_;
  Slot slots_[kRingBuffers];
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
};

}  // namespace

std::optional<int32_t> TryFileChecksumOfFile(const rt::Text& path,
                                             const std::function<void()>& between_chunks) {
  if (path.empty()) return std::nullopt;
  rt::OpenedFile file(rt::OpenFile(path, rt::kModeRead, rt::kShareDenyNone));
  if (file.get() == 0) return std::nullopt;
  ChecksumAccumulator sum;
  bool at_end = false;
  if (!SumChunks(file.get(), kInlineChunks, &sum, &at_end, between_chunks)) return std::nullopt;
  if (at_end) return sum.Result();
  ReadAheadRing ring(file.get());
  if (ring.Start()) return ring.Sum(sum, between_chunks);
  if (!SumChunks(file.get(), -1, &sum, &at_end, between_chunks)) return std::nullopt;
  return sum.Result();
}

int32_t FileChecksumOfFile(const rt::Text& path, const std::function<void()>& between_chunks) {
  return TryFileChecksumOfFile(path, between_chunks).value_or(0);
}

}  // namespace app

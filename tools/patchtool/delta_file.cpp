#include "tools/patchtool/delta_file.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "codec/delta/delta_make.h"
#include "runtime/files.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/mapped_file.h"
#include "trust/sha256.h"

namespace patchtool {
namespace {

namespace delta = codec::delta;

// Segments made ahead of the one being written, per thread: bounds memory.
constexpr size_t kSegmentsAheadPerThread = 1;

delta::SegmentDigest DigestOf(const std::uint8_t* data, size_t size) { return trust::Sha256Of(data, size); }

// The segments of NEW, made by a few threads and handed to the writer in
// order; a thread runs at most kSegmentsAheadPerThread segments ahead of it.
class SegmentMaker {
 public:
  SegmentMaker(const delta::BlockIndex& index, const rt::Text& new_path, std::uint64_t new_size,
               std::uint64_t segment_bytes, int level, size_t threads)
      : index_(index), new_path_(new_path), new_size_(new_size), segment_bytes_(segment_bytes), level_(level),
        count_(static_cast<size_t>((new_size + segment_bytes - 1) / segment_bytes)),
        ahead_(threads * kSegmentsAheadPerThread), results_(count_) {
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~SegmentMaker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  struct Made {
    bool ok = false;
    delta::SegmentPatch patch;
    delta::SegmentDigest digest{};
  };
  // Segment k, once made (waits); the caller takes them in order.
  Made Take(size_t k) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return results_[k].has_value(); });
    Made made = std::move(*results_[k]);
    results_[k].reset();
    taken_ = k + 1;
    changed_.notify_all();
    return made;
  }
  [[nodiscard]] size_t count() const { return count_; }

 private:
  void Work() {
    std::vector<std::uint8_t> bytes;
    const rt::OpenedFile file(rt::OpenFile(new_path_, rt::kModeRead, rt::kShareDenyNone));
    for (;;) {
      size_t k;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || next_ >= count_ || next_ < taken_ + ahead_; });
        if (stop_ || next_ >= count_) return;
        k = next_++;
      }
      Made made;
      const std::uint64_t offset = k * segment_bytes_;
      const size_t size = static_cast<size_t>(std::min(segment_bytes_, new_size_ - offset));
      bytes.resize(size);
      made.ok = file.get() != 0 && rt::SeekFile(file.get(), static_cast<int64_t>(offset)) &&
                rt::ReadExactly(file.get(), bytes.data(), size) &&
                delta::MakeSegment(index_, bytes.data(), size, offset, level_, &made.patch);
      if (made.ok) made.digest = DigestOf(bytes.data(), size);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[k] = std::move(made);
      }
      changed_.notify_all();
    }
  }

  const delta::BlockIndex& index_;
  const rt::Text new_path_;
  const std::uint64_t new_size_;
  const std::uint64_t segment_bytes_;
  const int level_;
  const size_t count_;
  const size_t ahead_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::optional<Made>> results_;
  size_t next_ = 0;
  size_t taken_ = 0;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

bool WriteAll(int32_t file, const std::uint8_t* data, size_t size) {
  return size == 0 || rt::WriteToFile(file, data, size);
}

}  // namespace

bool MakeDeltaFile(const rt::Text& old_path, const rt::Text& new_path, const rt::Text& out,
                   const DeltaFileOptions& options, Progress* progress, DeltaFileMade* made, std::string* error) {
  const std::uint64_t segment_bytes = options.segment_bytes != 0 ? options.segment_bytes : delta::kSegmentBytes;
  const int level = options.level != 0 ? options.level : delta::kDefaultLevel;
  const size_t threads =
      options.threads != 0 ? options.threads : std::max<size_t>(1, std::thread::hardware_concurrency());
  const int64_t new_size = rt::FileSize64(new_path);
  if (new_size < 0 || rt::FolderExists(new_path)) {
    *error = "cannot read " + Shown(new_path);
    return false;
  }
  const MappedFile old_file(old_path);
  if (!old_file.is_open()) {
    *error = "cannot map " + Shown(old_path) +
             " (missing, or larger than this build's address space: use the 64-bit patchtool)";
    return false;
  }
  const delta::BlockIndex index(old_file.data(), old_file.size());

  delta::DeltaHeader header;
  header.old_size = old_file.size();
  header.new_size = static_cast<std::uint64_t>(new_size);
  header.segment_bytes = segment_bytes;
  bool ok = false;
  std::uint64_t copied = 0;
  {
    const rt::OpenedFile file(rt::OpenFile(out, rt::kModeCreateWrite, rt::kShareExclusive));
    SegmentMaker maker(index, new_path, header.new_size, segment_bytes, level, threads);
    header.segments.resize(maker.count());
    // The table is written last, once every body's size is known.
    const std::vector<std::uint8_t> placeholder(static_cast<size_t>(header.HeaderBytes()));
    ok = file.get() != 0 && WriteAll(file.get(), placeholder.data(), placeholder.size());
    for (size_t k = 0; ok && k < maker.count(); ++k) {
      SegmentMaker::Made segment = maker.Take(k);
      ok = segment.ok && WriteAll(file.get(), segment.patch.body.data(), segment.patch.body.size());
      header.segments[k] = {segment.patch.body.size(), segment.patch.stream_bytes, segment.digest};
      copied += segment.patch.copied_bytes;
      if (progress != nullptr) progress->AddBytes(static_cast<int64_t>(header.SegmentOutputBytes(k)));
    }
    const std::vector<std::uint8_t> table = delta::EncodeHeader(header);
    ok = ok && rt::SeekFile(file.get(), 0) && WriteAll(file.get(), table.data(), table.size());
  }
  if (!ok) {
    *error = "cannot read " + Shown(new_path) + " or write " + Shown(out);
    return false;
  }
  made->patch_bytes = header.PatchBytes();
  made->new_bytes = header.new_size;
  made->copied_bytes = copied;
  made->segments = header.segments.size();
  made->index_bytes = index.memory_bytes();
  return true;
}

}  // namespace patchtool

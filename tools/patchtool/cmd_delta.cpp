// patchtool delta OLD NEW -o PATCH    and    patchtool apply OLD PATCH -o NEW
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "codec/delta/delta_apply.h"
#include "codec/delta/delta_make.h"
#include "runtime/files.h"
#include "tools/patchtool/command_line.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/file_copy.h"
#include "tools/patchtool/mapped_file.h"
#include "tools/patchtool/progress.h"
#include "trust/sha256.h"

namespace patchtool {
namespace {

namespace delta = codec::delta;

constexpr char kDeltaUsage[] =
    "usage: patchtool delta OLD NEW -o PATCH [--level N] [--threads N] [--segment-bytes N]\n"
    "Writes the delta patch that rebuilds NEW from OLD (patchtool apply, and the\n"
    "updater, apply it). NEW is cut into segments of 64 MiB (--segment-bytes),\n"
    "made in parallel"
    " (--threads, default: every core) at zstd level N (default 19). Memory: OLD\n"
    "mapped, its index (8 to 16 bytes per 64 bytes of OLD), and per thread a\n"
    "segment with its operations and the compressor (about 300 MiB).";
constexpr char kApplyUsage[] =
    "usage: patchtool apply OLD PATCH -o NEW [--size N]\n"
    "Rebuilds NEW from OLD and a delta patch, checking each segment's SHA-256;\n"
    "--size N refuses a patch whose output is not N bytes. Memory stays bounded\n"
    "whatever the sizes (the updater applies patches with the same code).";
// Outputs are written under this suffix and renamed when complete.
constexpr char kWritingSuffix[] = ".writing";
// The apply's read and write pieces.
constexpr size_t kApplyPieceBytes = 1u << 20;
// Segments made ahead of the one being written, per thread: bounds memory.
constexpr size_t kSegmentsAheadPerThread = 1;

double MiB(std::uint64_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

bool ParseCount(const rt::Text& text, std::uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  std::uint64_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *value = result;
  return true;
}

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

// The old file through the open-file table, for the applier.
class FileReader : public delta::OldFileReader {
 public:
  explicit FileReader(int32_t file) : file_(file) {}
  bool ReadAt(std::uint64_t offset, std::uint8_t* dest, size_t size) override {
    return rt::SeekFile(file_, static_cast<int64_t>(offset)) && rt::ReadExactly(file_, dest, size);
  }

 private:
  int32_t file_;
};

bool WriteAll(int32_t file, const std::uint8_t* data, size_t size) {
  return size == 0 || rt::WriteToFile(file, data, size);
}

}  // namespace

int RunDelta(int argc, char** argv) {
  rt::Text old_path, new_path, out, level_text, threads_text, segment_text;
  switch (ParseArguments("delta", argc, argv, kDeltaUsage, kDeltaUsage,
                         {{"-o", &out}, {"--level", &level_text}, {"--threads", &threads_text},
                          {"--segment-bytes", &segment_text}},
                         {&old_path, &new_path})) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kHelpShown: return kExitOk;
    case ParseOutcome::kUsageError: return kExitUsage;
  }
  std::uint64_t level = delta::kDefaultLevel;
  std::uint64_t threads = std::max(1u, std::thread::hardware_concurrency());
  std::uint64_t segment_bytes = delta::kSegmentBytes;
  if (old_path.empty() || new_path.empty() || out.empty() ||
      (!level_text.empty() && (!ParseCount(level_text, &level) || level < 1 || level > 22)) ||
      (!threads_text.empty() && (!ParseCount(threads_text, &threads) || threads < 1 || threads > 64)) ||
      (!segment_text.empty() && (!ParseCount(segment_text, &segment_bytes) ||
                                 segment_bytes < delta::kMinSegmentBytes || segment_bytes > delta::kMaxSegmentBytes))) {
    PrintErr(kDeltaUsage);
    return kExitUsage;
  }
  const auto started = std::chrono::steady_clock::now();
  const MappedFile old_file(old_path);
  if (!old_file.is_open()) {
    ReportError("delta: cannot map " + Shown(old_path) +
                " (missing, or larger than this build's address space: use the 64-bit patchtool)");
    return kExitFailed;
  }
  const int64_t new_size = rt::FileSize64(new_path);
  if (new_size < 0 || rt::FolderExists(new_path)) {
    ReportError("delta: no such file: " + Shown(new_path));
    return kExitFailed;
  }
  const delta::BlockIndex index(old_file.data(), old_file.size());

  delta::DeltaHeader header;
  header.old_size = old_file.size();
  header.new_size = static_cast<std::uint64_t>(new_size);
  header.segment_bytes = segment_bytes;
  const rt::Text writing = out + kWritingSuffix;
  bool ok = false;
  std::uint64_t copied = 0;
  {
    const rt::OpenedFile file(rt::OpenFile(writing, rt::kModeCreateWrite, rt::kShareExclusive));
    SegmentMaker maker(index, new_path, header.new_size, segment_bytes, static_cast<int>(level),
                       static_cast<size_t>(threads));
    header.segments.resize(maker.count());
    // The table is written last, once every body's size is known.
    const std::vector<std::uint8_t> placeholder(static_cast<size_t>(header.HeaderBytes()));
    ok = file.get() != 0 && WriteAll(file.get(), placeholder.data(), placeholder.size());
    Progress progress("delta", 1, new_size);
    for (size_t k = 0; ok && k < maker.count(); ++k) {
      SegmentMaker::Made made = maker.Take(k);
      ok = made.ok && WriteAll(file.get(), made.patch.body.data(), made.patch.body.size());
      header.segments[k] = {made.patch.body.size(), made.patch.stream_bytes, made.digest};
      copied += made.patch.copied_bytes;
      progress.AddBytes(static_cast<int64_t>(header.SegmentOutputBytes(k)));
    }
    if (ok) progress.FileDone(new_size);
    const std::vector<std::uint8_t> table = delta::EncodeHeader(header);
    ok = ok && rt::SeekFile(file.get(), 0) && WriteAll(file.get(), table.data(), table.size());
  }
  if (!ok || !ReplaceFile(writing, out)) {
    rt::RemoveFile(writing);
    ReportError("delta: cannot make " + Shown(out));
    return kExitFailed;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const std::uint64_t patch_bytes = header.PatchBytes();
  PrintOut("delta " + Shown(out) + ": " + std::to_string(patch_bytes) + " bytes (" +
           Fixed(new_size > 0 ? 100.0 * static_cast<double>(patch_bytes) / static_cast<double>(new_size) : 0, 3) +
           " % of the new file), " + std::to_string(header.segments.size()) + " segments, " +
           Fixed(MiB(copied), 1) + " MiB copied from the old file, " + Fixed(seconds, 2) + " s, index " +
           Fixed(MiB(index.memory_bytes()), 0) + " MiB, peak memory " + Fixed(MiB(PeakMemoryBytes()), 1) + " MiB");
  return kExitOk;
}

int RunApply(int argc, char** argv) {
  rt::Text old_path, patch_path, out, size_text;
  switch (ParseArguments("apply", argc, argv, kApplyUsage, kApplyUsage, {{"-o", &out}, {"--size", &size_text}},
                         {&old_path, &patch_path})) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kHelpShown: return kExitOk;
    case ParseOutcome::kUsageError: return kExitUsage;
  }
  delta::HeaderExpectations expect;
  if (old_path.empty() || patch_path.empty() || out.empty() ||
      (!size_text.empty() && !ParseCount(size_text, &expect.new_size))) {
    PrintErr(kApplyUsage);
    return kExitUsage;
  }
  expect.exact_new_size = !size_text.empty();
  const int64_t old_size = rt::FileSize64(old_path);
  const rt::OpenedFile old_file(rt::OpenFile(old_path, rt::kModeRead, rt::kShareDenyNone));
  const rt::OpenedFile patch(rt::OpenFile(patch_path, rt::kModeRead, rt::kShareDenyNone));
  if (old_size < 0 || old_file.get() == 0 || patch.get() == 0) {
    ReportError("apply: cannot read " + Shown(old_file.get() == 0 ? old_path : patch_path));
    return kExitFailed;
  }
  expect.old_size = static_cast<std::uint64_t>(old_size);
  const auto started = std::chrono::steady_clock::now();
  FileReader reader(old_file.get());
  delta::DeltaApplier applier(&reader, expect);
  const rt::Text writing = out + kWritingSuffix;
  std::vector<std::uint8_t> in_bytes(kApplyPieceBytes), out_bytes(kApplyPieceBytes);
  std::string failure;
  std::uint64_t written = 0;
  {
    const rt::OpenedFile file(rt::OpenFile(writing, rt::kModeCreateWrite, rt::kShareExclusive));
    if (file.get() == 0) failure = "cannot write " + Shown(writing);
    std::optional<Progress> progress;
    trust::Sha256 hasher;
    codec::InBuffer in{in_bytes.data(), 0, 0};
    bool ended = false;
    while (failure.empty() && !ended) {
      codec::OutBuffer output{out_bytes.data(), out_bytes.size(), 0};
      const delta::ApplyStep step = applier.Apply(in, output);
      if (!progress && applier.header() != nullptr)
        progress.emplace("apply", 1, static_cast<int64_t>(applier.header()->new_size));
      hasher.Update(out_bytes.data(), output.pos);
      if (!WriteAll(file.get(), out_bytes.data(), output.pos)) {
        failure = "cannot write " + Shown(writing);
        break;
      }
      written += output.pos;
      if (progress) progress->AddBytes(static_cast<int64_t>(output.pos));
      switch (step) {
        case delta::ApplyStep::kFault:
          failure = std::string("bad patch: ") + delta::ToString(applier.fault());
          break;
        case delta::ApplyStep::kSegmentDone:
          if (hasher.Final() != applier.header()->segments[applier.segment()].sha256)
            failure = "segment " + std::to_string(applier.segment()) + ": output does not match its SHA-256";
          break;
        case delta::ApplyStep::kOutputFull:
          break;
        case delta::ApplyStep::kNeedInput: {
          const int64_t got = rt::ReadFromFile(patch.get(), in_bytes.data(), in_bytes.size());
          if (got < 0) {
            failure = "cannot read " + Shown(patch_path);
          } else if (got == 0) {
            ended = true;
            if (const delta::DeltaFault fault = applier.Finish(); fault != delta::DeltaFault::kNone)
              failure = std::string("bad patch: ") + delta::ToString(fault);
          }
          in = codec::InBuffer{in_bytes.data(), static_cast<size_t>(std::max<int64_t>(got, 0)), 0};
          break;
        }
      }
    }
    if (failure.empty() && progress) progress->FileDone(static_cast<int64_t>(written));
  }
  if (!failure.empty() || !ReplaceFile(writing, out)) {
    rt::RemoveFile(writing);
    ReportError("apply: " + (failure.empty() ? "cannot replace " + Shown(out) : failure));
    return kExitFailed;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  PrintOut("applied " + Shown(out) + ": " + std::to_string(written) + " bytes, " + Fixed(seconds, 2) + " s, " +
           Fixed(seconds > 0 ? MiB(written) / seconds : 0, 1) + " MiB/s, peak memory " +
           Fixed(MiB(PeakMemoryBytes()), 1) + " MiB");
  return kExitOk;
}

}  // namespace patchtool

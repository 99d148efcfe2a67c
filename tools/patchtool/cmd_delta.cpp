// patchtool delta OLD NEW -o PATCH    and    patchtool apply OLD PATCH -o NEW
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "codec/delta/delta_apply.h"
#include "codec/delta/delta_make.h"
#include "runtime/files.h"
#include "tools/patchtool/command_line.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/delta_file.h"
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
  const int64_t new_size = rt::FileSize64(new_path);
  if (new_size < 0 || rt::FolderExists(new_path)) {
    ReportError("delta: no such file: " + Shown(new_path));
    return kExitFailed;
  }
  const rt::Text writing = out + kWritingSuffix;
  DeltaFileOptions options;
  options.segment_bytes = segment_bytes;
  options.level = static_cast<int>(level);
  options.threads = static_cast<size_t>(threads);
  DeltaFileMade made;
  std::string error;
  bool ok;
  {
    Progress progress("delta", 1, new_size);
    ok = MakeDeltaFile(old_path, new_path, writing, options, &progress, &made, &error);
    if (ok) progress.FileDone(new_size);
  }
  if (!ok || !ReplaceFile(writing, out)) {
    rt::RemoveFile(writing);
    ReportError("delta: cannot make " + Shown(out) + (error.empty() ? std::string() : ": " + error));
    return kExitFailed;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const std::uint64_t patch_bytes = made.patch_bytes;
  PrintOut("delta " + Shown(out) + ": " + std::to_string(patch_bytes) + " bytes (" +
           Fixed(new_size > 0 ? 100.0 * static_cast<double>(patch_bytes) / static_cast<double>(new_size) : 0, 3) +
           " % of the new file), " + std::to_string(made.segments) + " segments, " +
           Fixed(MiB(made.copied_bytes), 1) + " MiB copied from the old file, " + Fixed(seconds, 2) + " s, index " +
           Fixed(MiB(made.index_bytes), 0) + " MiB, peak memory " + Fixed(MiB(PeakMemoryBytes()), 1) + " MiB");
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

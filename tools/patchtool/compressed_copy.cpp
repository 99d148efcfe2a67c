#include "tools/patchtool/compressed_copy.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getCParams: the level's window, to keep it in the decoder's bound
#include <zstd.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "codec/zstd_decoder.h"
#include "list/layout.h"
#include "runtime/files.h"
#include "tools/patchtool/file_copy.h"
#include "trust/sha256.h"

namespace patchtool {

struct Compressor::State {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ~State() { ZSTD_freeCCtx(context); }
};

namespace {

constexpr size_t kReadChunk = 1 << 20;

// The file the copy is read from, closed with the object.
class SourceFile {
 public:
  explicit SourceFile(const rt::Text& path) : number_(rt::OpenFile(path, rt::kModeRead, rt::kShareDenyNone)) {}
  ~SourceFile() {
    if (number_ != 0) rt::CloseFile(number_);
  }
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
  int32_t number() const { return number_; }

 private:
  int32_t number_;
};

CompressedCopy Failed(std::string error) {
  CompressedCopy copy;
  copy.error = std::move(error);
  return copy;
}

}  // namespace

Compressor::Compressor() : state_(new State) {
  const unsigned cores = std::thread::hardware_concurrency();
  workers_ = static_cast<int>(std::clamp<unsigned>(cores, 1, kMaxCompressionWorkers));
  // A library built without threads refuses workers: it then compresses on
  // the calling thread alone.
  if (state_->context != nullptr && ZSTD_isError(ZSTD_CCtx_setParameter(state_->context, ZSTD_c_nbWorkers, workers_)))
    workers_ = 1;
}

Compressor::~Compressor() = default;

CompressedCopy Compressor::Compress(const rt::Text& source, int64_t size, const rt::Text& writing,
                                    const rt::Text& forms_folder, Progress* progress) {
  ZSTD_CCtx* context = state_->context;
  if (context == nullptr) return Failed("out of memory for the compressor");
  // The copy may take up to this many bytes.
  const int64_t limit = size / 100 * (100 - kMinSavingPercent) + size % 100 * (100 - kMinSavingPercent) / 100;
  const ZSTD_compressionParameters level = ZSTD_getCParams(kCompressionLevel, static_cast<unsigned long long>(size), 0);
  ZSTD_CCtx_reset(context, ZSTD_reset_session_and_parameters);
  if (workers_ > 1) (void)ZSTD_CCtx_setParameter(context, ZSTD_c_nbWorkers, workers_);
  (void)ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, kCompressionLevel);
  (void)ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog,
                               std::min<int>(static_cast<int>(level.windowLog), codec::kMaxZstdWindowLog));
  (void)ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  (void)ZSTD_CCtx_setPledgedSrcSize(context, static_cast<unsigned long long>(size));

  SourceFile in_file(source);
  if (in_file.number() == 0) return Failed("cannot read the file");
  trust::Sha256 hash;
  int64_t written = 0;
  bool smaller = true;
  std::vector<std::uint8_t> input(kReadChunk), output(ZSTD_CStreamOutSize());
  {
    OutputFile out(writing);
    if (!out.is_open()) return Failed("cannot write the copy");
    bool ok = true;
    int64_t left = size;
    for (bool last = false; ok && smaller && !last;) {
      const size_t chunk = static_cast<size_t>(std::min<int64_t>(left, kReadChunk));
      ok = rt::ReadExactly(in_file.number(), input.data(), chunk);
      left -= static_cast<int64_t>(chunk);
      last = left == 0;
      ZSTD_inBuffer from{input.data(), chunk, 0};
      // Every chunk is taken whole; the last one ends the frame.
      for (bool done = false; ok && smaller && !done;) {
        ZSTD_outBuffer to{output.data(), output.size(), 0};
        const size_t pending = ZSTD_compressStream2(context, &to, &from, last ? ZSTD_e_end : ZSTD_e_continue);
        ok = !ZSTD_isError(pending) && out.Append(output.data(), to.pos);
        hash.Update(output.data(), to.pos);
        written += static_cast<int64_t>(to.pos);
        smaller = written <= limit;
        done = last ? pending == 0 : from.pos == from.size;
      }
      if (ok) progress->AddBytes(static_cast<int64_t>(chunk));
    }
    out.Close();
    if (!ok) {
      rt::RemoveFile(writing);
      return Failed("cannot read the file to its end or write the copy");
    }
  }
  if (!smaller) {
    rt::RemoveFile(writing);
    CompressedCopy copy;
    copy.outcome = CompressedCopy::Outcome::kNotSmaller;
    return copy;
  }
  CompressedCopy copy;
  copy.form.kind = list::FormKind::kZstd;
  copy.form.output_size = size;
  copy.form.size = written;
  copy.form.sha256 = hash.Final();
  const rt::Text file_name = list::Sha256Hex(copy.form.sha256) + list::kZstdFormSuffix;
  copy.form.name = rt::Text(list::kFormsFolder) + file_name;
  const rt::Text target = forms_folder + "/" + file_name;
  // The same name is the same content: a copy already there stays as it is.
  if (rt::FileSize64(target) == written) {
    rt::RemoveFile(writing);
  } else if (rt::FileSize64(target) >= 0 || rt::FolderExists(target)) {
    rt::RemoveFile(writing);
    return Failed("a form of its name is there with another size; remove it");
  } else if (!rt::MoveFile(writing, target)) {
    rt::RemoveFile(writing);
    return Failed("cannot move the copy to its name");
  }
  copy.outcome = CompressedCopy::Outcome::kMade;
  return copy;
}

}  // namespace patchtool

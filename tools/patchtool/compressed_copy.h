#pragma once
// Compressed copies of a client's files for the server: each file whole as
// one zstd frame, streamed (never a whole file in memory), its SHA-256 taken
// on the way, kept only when it saves enough.
#include <cstdint>
#include <memory>
#include <string>

#include "list/forms.h"
#include "runtime/types.h"
#include "tools/patchtool/progress.h"

namespace patchtool {

// zstd's level for the copies. Measured on 300 MB of system files on a
// 2-core machine with two workers: level 1 gave 51.2 % of the size at
// 68 MB/s, level 3 48.1 % at 29 MB/s, level 6 46.4 % at 12 MB/s, level 9
// 45.4 % at 7 MB/s. Level 3 keeps most of what the higher levels save at a
// rate a release of a few changed GB takes in minutes.
inline constexpr int kCompressionLevel = 3;
// A copy is kept only when it is at least this many percent smaller than
// the file.
inline constexpr int64_t kMinSavingPercent = 5;
// Files below this size get no copy: the list line a form costs every
// player (about 140 bytes) would eat much of what it saves.
inline constexpr int64_t kMinCompressedFileSize = 4096;
// zstd's workers stop here however many cores the machine has.
inline constexpr int kMaxCompressionWorkers = 16;

struct CompressedCopy {
  enum class Outcome { kMade, kNotSmaller, kFailed };
  Outcome outcome = Outcome::kFailed;
  list::FormLine form;  // kMade: the copy's line, named after its content
  std::string error;    // kFailed: what failed, for a message naming the file
};

// One zstd context for a whole publish, its workers one per core.
class Compressor {
 public:
  Compressor();
  ~Compressor();
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  int workers() const { return workers_; }

  // Compresses `size` bytes of `source` into `writing`, then moves the copy
  // to its content's name in `forms_folder` (the disk folder of
  // list::kFormsFolder) unless a file of that name is there already: a
  // form, once published, is never overwritten. `writing` is gone when this
  // returns. Gives up (kNotSmaller) as soon as the copy grows past what
  // kMinSavingPercent allows. The bytes read are added to `progress`.
  [[nodiscard]] CompressedCopy Compress(const rt::Text& source, int64_t size, const rt::Text& writing,
                                        const rt::Text& forms_folder, Progress* progress);

 private:
  struct State;
  std::unique_ptr<State> state_;
  int workers_ = 1;
};

}  // namespace patchtool

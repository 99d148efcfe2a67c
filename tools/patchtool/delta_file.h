#pragma once
// A delta patch (codec/delta) made from two files on disk: the old file
// mapped and indexed, the new file's segments made by a few threads at once
// and written in order, the table last. Shared by `patchtool delta` and
// publish's delta forms.
#include <cstdint>
#include <string>

#include "runtime/types.h"
#include "tools/patchtool/progress.h"

namespace patchtool {

struct DeltaFileOptions {
  std::uint64_t segment_bytes = 0;  // 0: the format's default
  int level = 0;                    // 0: the maker's default
  size_t threads = 0;               // 0: every core
};

struct DeltaFileMade {
  std::uint64_t patch_bytes = 0;
  std::uint64_t new_bytes = 0;
  std::uint64_t copied_bytes = 0;  // of the new file, taken from the old one
  size_t segments = 0;
  size_t index_bytes = 0;          // the old file's index
};

// Writes the patch that rebuilds `new_path` from `old_path` to `out` (created
// or truncated; left half-written on failure, the caller removes it). The
// new file's bytes are added to `progress` as their segments are written.
// False with `error` set when a file cannot be read, mapped or written.
[[nodiscard]] bool MakeDeltaFile(const rt::Text& old_path, const rt::Text& new_path, const rt::Text& out,
                                 const DeltaFileOptions& options, Progress* progress, DeltaFileMade* made,
                                 std::string* error);

}  // namespace patchtool

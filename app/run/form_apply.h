#pragma once
// The step between a form's fetch and the install: the form, whole in its
// partial file and checked by its SHA-256, is turned into the file's partial
// file: a zstd copy decoded, a delta patch applied to the local file (which
// stays as it is until the install). Each delta segment's output is checked
// against the segment's SHA-256 as it is made, and the whole output against
// the list entry (its size and SHA-256 on a signed list, its checksum), so
// nothing that is not the entry's file ever reaches the install.
//
// Memory is bounded whatever the sizes: two pieces of kApplyPieceBytes and
// the codec's own (a zstd window of at most 8 MiB, the delta applier's cache
// of the old file). The run applies one form at a time (RunContext).
#include <atomic>
#include <cstdint>

#include "app/run/file_form.h"
#include "list/file_list.h"
#include "runtime/types.h"

namespace app {

// The form and the output are read and written in pieces of this size.
inline constexpr size_t kApplyPieceBytes = 256 * 1024;

enum class ApplyEnd {
  kMade,         // the output is the entry's file
  kStopped,      // the run stopped: the form stays, the output is dropped
  kFormRefused,  // the form does not make the entry's file (reason says why)
  kWriteFailed,  // the output could not be written (disk_full tells a full disk)
};

struct ApplyResult {
  ApplyEnd end = ApplyEnd::kMade;
  rt::Text reason;  // for the log: "zstd: TooLong", "segment 3 differs", "SHA-256 differs", ...
  bool disk_full = false;
  uint32_t system_error = 0;
};

// Where an apply reads and writes.
struct ApplyPaths {
  rt::Text form;    // the whole form
  rt::Text old;     // the local file, for a delta
  rt::Text output;  // created, or emptied
};

// Turns `form` into the file of `entry`. `done` is set to the output bytes
// written so far and `made` grows by them (the run's counter); `stop` is
// looked at between pieces. The output file is left for the install when
// kMade and deleted otherwise.
[[nodiscard]] ApplyResult ApplyForm(const FileForm& form, const ApplyPaths& paths, const list::PatchEntry& entry,
                                    std::atomic<int64_t>& done, std::atomic<int64_t>& made,
                                    const std::atomic<bool>& stop);

}  // namespace app

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
#include <vector>

#include "app/run/file_form.h"
#include "app/run/file_verifier.h"
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
  int64_t kept_bytes = 0;  // output a cut apply left that matched its segments' hashes and stayed
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
// kMade, kept when kStopped (as after a killed process), deleted otherwise: a delta's next apply
// keeps its whole segments that match their hashes and goes on after them,
// so a cut apply of a big file resumes rather than starts over.
[[nodiscard]] ApplyResult ApplyForm(const FileForm& form, const ApplyPaths& paths, const list::PatchEntry& entry,
                                    std::atomic<int64_t>& done, std::atomic<int64_t>& made,
                                    const std::atomic<bool>& stop);

// A part of a form: its bytes [offset, offset + bytes), the body of one
// delta segment.
struct FormSpan {
  int64_t offset = 0;
  int64_t bytes = 0;
  size_t segment = 0;
};

// A delta form that arrived whole but not as it was published (its SHA-256
// differs): each segment is applied alone from the local file, nothing
// written, and the bodies of those whose output does not match their hash
// are the spans to fetch again. Empty when the header and table cannot be
// read (the form is then fetched again whole) or the run stops.
[[nodiscard]] std::vector<FormSpan> SegmentsToFetchAgain(const FileForm& form, const rt::Text& form_path,
                                                         const rt::Text& old_path, const std::atomic<bool>& stop);

// The form at `path` judged whole again by its size and SHA-256.
[[nodiscard]] FileVerdict CheckFormFile(const rt::Text& path, const list::FileDigest& digest);

}  // namespace app

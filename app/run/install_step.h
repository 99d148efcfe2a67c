#pragma once
// The last step of a patch file: its verified partial file takes the place
// of the old file in one step, so that the old file stays whole until its
// replacement is complete and verified, and a reader never sees half of
// either. The partial file's bytes are brought to the disk first, so that a
// crash right after the move cannot leave the new name over missing bytes.
#include <cstdint>
#include <functional>

#include "runtime/file_access.h"
#include "runtime/types.h"

namespace app {

struct InstallResult {
  bool ok = false;
  // When not ok: the current-task text that names the file and says what to
  // do, and the log line with the system's error code. The complete partial
  // file stays for the next run.
  rt::Text text;
  rt::Text log_line;
};

// A read-only target (a client copied from a disc) is made writable first;
// one held open by another program (the running game) cannot be replaced.
// `probe` tells, after a failed replace, a file in use from one that cannot
// be written.
[[nodiscard]] InstallResult InstallFile(const rt::Text& entry, const rt::Text& partial_path, const rt::Text& local_path,
                                        const std::function<rt::AccessCheck(const rt::Text& path)>& probe);

}  // namespace app

#pragma once
// One patch file of the run, on a transfer thread, as a pipeline: choose the
// form it travels in (ChooseForm), fetch it over the mirrors with the tries
// MirrorTries allows, each try written through the file's chain (partial
// file, transform, verifier: FileChain), take the verdict on the file, and
// install a file that verified (InstallFile). Nothing is installed that did
// not verify, and the old file stays until then. A failure that ends the run
// is handed to the run (RunContext::Fail) with its text; a try stopped with
// the run leaves the file to be claimed again.
#include <cstddef>
#include <memory>
#include <vector>

#include "app/run/file_form.h"
#include "app/run/run_context.h"
#include "net/http_connection.h"

namespace app {

// The connections of one transfer, one per mirror (in the run's mirror
// order), kept across the files it fetches.
using MirrorConnections = std::vector<std::unique_ptr<net::HttpConnection>>;

enum class FileEnd {
  kInstalled,  // verified and in place
  kFailed,     // its tries failed: the run fails with it
  kStopped,    // the run stopped (paused or failed elsewhere) before it was in
};

// The engine's options for one try of `form` on mirror `mirror` (an index
// into the run's mirrors) over the transfer's connection to it.
[[nodiscard]] net::DownloadOptions TryOptions(RunContext& run, const FileForm& form, size_t mirror,
                                              MirrorConnections& connections);

// Brings file `index` of the run in.
[[nodiscard]] FileEnd BringFile(RunContext& run, size_t index, MirrorConnections& connections);

}  // namespace app

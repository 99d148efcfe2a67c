#pragma once
// One patch file, fetched on a transfer thread: its tries over the mirrors as
// MirrorTries decides, each verified while it arrives (the engine shows the
// verifier every byte, a resumed part first), and the install of a file that
// verified. Nothing is installed that did not verify, and the old file stays
// until then. A failure that ends the run is handed to the run (RunContext::
// Fail) with its text.
#include <cstddef>
#include <memory>
#include <vector>

#include "app/run/run_context.h"
#include "net/http_connection.h"

namespace app {

// The connections of one transfer, one per mirror (in the run's mirror
// order), kept across the files it fetches.
using MirrorConnections = std::vector<std::unique_ptr<net::HttpConnection>>;

// Fetches file `index` of the run; true when it is installed. False when it
// failed (the run fails with it) or the run ended meanwhile.
bool FetchFile(RunContext& run, size_t index, MirrorConnections& connections);

}  // namespace app

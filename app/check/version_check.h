#pragma once
// The remote version check: fetch the lists (from the mirrors, as many as it
// takes), choose one, checksum the local files it names (those unchanged
// since the last start from the checksum cache). It shows its progress on the
// window and writes the log; what it found it returns, and the caller keeps.
#include <cstddef>
#include <optional>
#include <vector>

#include "app/check/outdated_file.h"
#include "app/flow.h"

namespace app {

struct VersionCheck {
  size_t list_mirror = 0;            // the mirror that gave the list (PatchSite's index)
  std::vector<OutdatedFile> files;   // the list's entries whose local file differs, in list order
};

// Nothing when no mirror gave a usable list.
// `expired` is set when no mirror gave a usable list and one was refused
// for its expiry date.
[[nodiscard]] std::optional<VersionCheck> CheckVersion(Flow& flow, bool* expired);

}  // namespace app

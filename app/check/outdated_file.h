#pragma once
// One file the version check found to differ: the list's entry, and what the
// client holds under its name now (the file the run replaces), as the check
// summed it.
#include <cstdint>

#include "list/file_list.h"

namespace app {

struct OutdatedFile {
  list::PatchEntry entry;
  bool local_present = false;   // a file (not a folder) is there
  int64_t local_size = 0;       // its size; 0 when none
  uint32_t local_checksum = 0;  // its checksum; 0 when none or unreadable
};

}  // namespace app

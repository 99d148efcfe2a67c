#pragma once
// What a full disk looks like to the player: a size as a short text, and the
// label text that asks for room.
#include <cstdint>

#include "runtime/types.h"

namespace app {

// "512 B", "1.5 KB", "20 MB", "1.5 GB" (units of 1024): one decimal below 10
// of the unit, none above, rounded up, so that freeing what it says is
// enough.
rt::Text SizeText(int64_t bytes);

// The current-task text for a full disk, naming the room still needed when
// it is known (above 0).
rt::Text DiskFullText(int64_t bytes_needed);

}  // namespace app

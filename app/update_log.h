#pragma once
// update.log in the client folder: what support needs to see of a run, one
// event a line with the local time in front. Appended by every run and kept
// short: past kLogMaxBytes the older half goes. It holds only what a player
// could send on (paths of the client's own files, URLs of the update server,
// results and error codes), and a log that cannot be written changes nothing.
#include <cstdint>

#include "list/layout.h"
#include "runtime/types.h"

namespace app {

inline constexpr const char* kLogName = list::kLogFileName;
inline constexpr int64_t kLogMaxBytes = 256 * 1024;

// Appends "<time> <line>" CR LF to the log at `path`, then trims it. Every
// failure is silent.
void AppendLogLine(const rt::Text& path, const rt::Text& time, const rt::Text& line);

// The log's content with its older half dropped: from the first line that
// starts at or after the middle. Unchanged when it is not above `max_bytes`.
rt::Bytes TrimmedLog(const rt::Bytes& content, int64_t max_bytes);

// "12.5 s"-style seconds and "KB/s" of a byte count over milliseconds.
rt::Text Seconds(uint32_t ms);
rt::Text KilobytesPerSecond(int64_t bytes, uint32_t ms);

}  // namespace app

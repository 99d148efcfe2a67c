#pragma once
// update.log in the client folder: what support needs to see of a run, one
// event a line with the local time in front. Appended by every run and kept
// short: past kLogMaxBytes it is cut to at most kLogKeptBytes, older runs
// going first; a run that alone is larger keeps its first lines (its start,
// the list, the checksums, the download run's start) and its newest ones,
// with a line between that counts the lines left out. Only the last
// kLogTrimReadBytes are read for that (a log of any size, even one of
// gigabytes, costs one bounded read). It holds only what a player
// could send on (paths of the client's own files, URLs of the update server,
// results and error codes), and a log that cannot be written changes nothing.
#include <cstdint>

#include "list/layout.h"
#include "runtime/types.h"

namespace app {

inline constexpr const char* kLogName = list::kLogFileName;
inline constexpr int64_t kLogMaxBytes = 256 * 1024;
inline constexpr int64_t kLogKeptBytes = kLogMaxBytes / 2;
// The bytes read to trim: the whole log once it passes kLogMaxBytes, unless
// something else made it much larger.
inline constexpr int64_t kLogTrimReadBytes = kLogMaxBytes + 64 * 1024;
// The first lines of a run kept when it is cut.
inline constexpr int64_t kRunHeadBytes = 16 * 1024;

// Appends "<time> <line>" CR LF to the log at `path`, then trims it. Every
// failure is silent.
void AppendLogLine(const rt::Text& path, const rt::Text& time, const rt::Text& line);

// What stays of a log's last bytes: whole lines only, from the first line
// that starts inside `tail` (at its first byte only when `starts_a_line`).
// A NUL byte, which no line holds (a hole of a sparse file, a torn write),
// ends a line as a line feed does, and runs of them go.
rt::Bytes KeptLogTail(const rt::Bytes& tail, bool starts_a_line);

// A line of update.log that starts a run: "<YYYY-MM-DD HH:MM:SS> start: ...".
bool StartsARun(const rt::Text& line);

// What a log whose last bytes are `tail` is cut to (at most kLogKeptBytes,
// whole lines, see KeptLogTail): its newest run with as many older runs
// before it as fit, oldest dropped first; a newest run alone too large keeps
// its first kRunHeadBytes of lines and its newest, and between them a line
// "[N lines of this run left out]", N counting every cut so far.
rt::Bytes TrimmedLog(const rt::Bytes& tail, bool starts_a_line);

// "12.5 s"-style seconds and "KB/s" of a byte count over milliseconds.
rt::Text Seconds(uint32_t ms);
rt::Text KilobytesPerSecond(int64_t bytes, uint32_t ms);

}  // namespace app

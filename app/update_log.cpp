#include "app/update_log.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/lock.h"
#include "runtime/text.h"

namespace app {
namespace {

constexpr char kRunStart[] = "start: ";
constexpr size_t kTimeLength = 19;  // "YYYY-MM-DD HH:MM:SS"
constexpr char kLeftOutOpen[] = "[";
constexpr char kLeftOutClose[] = " lines of this run left out]";
constexpr size_t kOutSlackBytes = 4096;

// A line of the log, its line end included (none for a line a NUL ended).
struct LogLine {
  size_t begin = 0;
  size_t end = 0;
  size_t size() const { return end - begin; }
};

// The lines of whole-line bytes from `from` on; NUL runs end a line and go.
std::vector<LogLine> SplitLines(const rt::Bytes& bytes, size_t from) {
  std::vector<LogLine> lines;
  size_t at = from;
  while (at < bytes.size()) {
    if (bytes[at] == '\0') {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\0') ++end;
    if (end < bytes.size() && bytes[end] == '\n') ++end;
    lines.push_back({at, end});
    at = end;
  }
  return lines;
}

rt::Text LineText(const rt::Bytes& bytes, const LogLine& line) {
  return rt::Text(bytes.begin() + static_cast<std::ptrdiff_t>(line.begin),
                  bytes.begin() + static_cast<std::ptrdiff_t>(line.end));
}

// The count of a "[N lines of this run left out]" line; -1 for any other.
int64_t LeftOutCount(const rt::Text& line) {
  if (line.compare(0, sizeof kLeftOutOpen - 1, kLeftOutOpen) != 0) return -1;
  if (line.find(kLeftOutClose) == rt::Text::npos) return -1;
  char* end = nullptr;
  const long long count = std::strtoll(line.c_str() + 1, &end, 10);
  return end != line.c_str() + 1 && count >= 0 ? count : -1;
}

void Append(rt::Bytes& out, const rt::Bytes& bytes, const LogLine& line) {
  out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(line.begin),
             bytes.begin() + static_cast<std::ptrdiff_t>(line.end));
  if (line.size() == 0 || bytes[line.end - 1] != '\n') {
    out.push_back('\r');
    out.push_back('\n');
  }
}

// Rewrites the log as TrimmedLog says, reading only its last
// kLogTrimReadBytes. Every failure leaves the log as it is.
void TrimLog(const rt::Text& path, int64_t size) {
  const int64_t from = size > kLogTrimReadBytes ? size - kLogTrimReadBytes : 0;
  // One read buffer for every trim of the process, whichever thread trims:
  // a buffer this large made and freed by each of the run's threads in turn
  // would stay in each thread's heap.
  static rt::Lock buffer_lock;
  static rt::Bytes tail;
  std::lock_guard<rt::Lock> hold(buffer_lock);
  if (tail.capacity() < static_cast<size_t>(kLogTrimReadBytes)) tail.reserve(static_cast<size_t>(kLogTrimReadBytes));
  tail.resize(static_cast<size_t>(size - from));
  {
    const rt::OpenedFile file(rt::OpenFile(path, rt::kModeRead, rt::kShareDenyNone));
    if (!file || !rt::SeekFile(file.get(), from)) return;
    const int64_t got = rt::ReadFull(file.get(), tail.data(), tail.size());
    if (got <= 0) return;
    tail.resize(static_cast<size_t>(got));
  }
  (void)rt::WriteWholeFile(path, TrimmedLog(tail, from == 0));
}


// Where the whole lines of `tail` start (KeptLogTail); its size when none does.
size_t KeptFrom(const rt::Bytes& tail, bool starts_a_line) {
  for (size_t i = 0; i < tail.size(); ++i) {
    const bool after_break = i == 0 ? starts_a_line : tail[i - 1] == '\n' || tail[i - 1] == '\0';
    if (after_break && tail[i] != '\0') return i;
  }
  return tail.size();
}

}  // namespace

rt::Bytes KeptLogTail(const rt::Bytes& tail, bool starts_a_line) {
  return rt::Bytes(tail.begin() + static_cast<std::ptrdiff_t>(KeptFrom(tail, starts_a_line)), tail.end());
}

bool StartsARun(const rt::Text& line) {
  return line.size() > kTimeLength && line[kTimeLength] == ' ' && line[4] == '-' &&
         line.compare(kTimeLength + 1, sizeof kRunStart - 1, kRunStart) == 0;
}

rt::Bytes TrimmedLog(const rt::Bytes& tail, bool starts_a_line) {
  // The lines are read in place: no copy of the tail.
  const rt::Bytes& whole = tail;
  const std::vector<LogLine> lines = SplitLines(whole, KeptFrom(tail, starts_a_line));
  const size_t n = lines.size();
  std::vector<int64_t> after(n + 1, 0);  // bytes of lines [i, n)
  for (size_t i = n; i-- > 0;) after[i] = after[i + 1] + static_cast<int64_t>(lines[i].size()) + 2;
  // The newest run starts at its start line; lines before the first start
  // line count as one run.
  size_t run = 0;
  for (size_t i = n; i-- > 0;) {
    if (StartsARun(LineText(whole, lines[i]))) {
      run = i;
      break;
    }
  }
  // One allocation of the most a cut keeps (CR LF added to bare line ends
  // and the left-out line included), rather than one per doubling.
  rt::Bytes out;
  out.reserve(static_cast<size_t>(kLogKeptBytes) + kOutSlackBytes);
  if (after[run] <= kLogKeptBytes) {
    // Older runs as far as they fit, whole, the newest first.
    size_t first = run;
    for (size_t i = run; i-- > 0;) {
      if (after[i] > kLogKeptBytes) break;
      if (i == 0 || StartsARun(LineText(whole, lines[i]))) first = i;
    }
    for (size_t i = first; i < n; ++i) Append(out, whole, lines[i]);
    return out;
  }
  // The run alone is too large: its head (up to a left-out line an earlier
  // cut wrote, else its first kRunHeadBytes), then its newest lines.
  size_t head_end = run + 1;
  int64_t left_out = 0;
  size_t marker = n;
  for (size_t i = run + 1; i < n; ++i) {
    const int64_t count = LeftOutCount(LineText(whole, lines[i]));
    if (count >= 0) {
      marker = i;
      left_out = count;
      break;
    }
  }
  if (marker < n) {
    head_end = marker;
  } else {
    while (head_end < n && after[run] - after[head_end + 1] <= kRunHeadBytes) ++head_end;
  }
  const size_t tail_from = marker < n ? marker + 1 : head_end;
  const int64_t head_bytes = after[run] - after[head_end];
  const int64_t marker_bytes = 64;
  size_t newest = n;
  while (newest > tail_from && head_bytes + marker_bytes + after[newest - 1] <= kLogKeptBytes) --newest;
  left_out += static_cast<int64_t>(newest - tail_from);
  for (size_t i = run; i < head_end; ++i) Append(out, whole, lines[i]);
  const rt::Text line = kLeftOutOpen + rt::ToText(left_out) + kLeftOutClose + "\r\n";
  out.insert(out.end(), line.begin(), line.end());
  for (size_t i = newest; i < n; ++i) Append(out, whole, lines[i]);
  return out;
}

void AppendLogLine(const rt::Text& path, const rt::Text& time, const rt::Text& line) {
  int64_t size = 0;
  {
    // Shared, so a launcher and an updater ending and starting at once both
    // get their lines in.
    rt::OpenedFile file(rt::OpenFile(path, rt::kModeOpenOrCreate, rt::kShareDenyNone));
    if (!file) return;
    const rt::Text text = time + " " + line + "\r\n";
    if (!rt::SeekToEnd(file.get()) || !rt::WriteToFile(file.get(), rt::ToBytes(text))) return;
    // The position after the line is the log's size, without a look-up by
    // name (one line per installed file: thousands in a run).
    size = rt::FilePosition(file.get());
  }
  if (size > kLogMaxBytes) TrimLog(path, size);
}

rt::Text Seconds(uint32_t ms) { return rt::FormatText("%.2f s", ms / 1000.0); }

rt::Text KilobytesPerSecond(int64_t bytes, uint32_t ms) {
  if (ms == 0) ms = 1;
  return rt::FormatText("%.2f KB/s", static_cast<double>(bytes) / 1024.0 / (ms / 1000.0));
}

}  // namespace app

#include "app/update_log.h"

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace app {
namespace {

// Rewrites the log as its newest whole lines, reading only its last
// kLogKeptBytes. Every failure leaves the log as it is.
void TrimLog(const rt::Text& path, int64_t size) {
  rt::Bytes tail(static_cast<size_t>(kLogKeptBytes));
  {
    const rt::OpenedFile file(rt::OpenFile(path, rt::kModeRead, rt::kShareDenyNone));
    if (!file || !rt::SeekFile(file.get(), size - kLogKeptBytes)) return;
    const int64_t got = rt::ReadFull(file.get(), tail.data(), tail.size());
    if (got <= 0) return;
    tail.resize(static_cast<size_t>(got));
  }
  (void)rt::WriteWholeFile(path, KeptLogTail(tail, false));
}

}  // namespace

rt::Bytes KeptLogTail(const rt::Bytes& tail, bool starts_a_line) {
  for (size_t i = 0; i < tail.size(); ++i) {
    const bool after_break = i == 0 ? starts_a_line : tail[i - 1] == '\n' || tail[i - 1] == '\0';
    if (after_break && tail[i] != '\0') return rt::Bytes(tail.begin() + static_cast<std::ptrdiff_t>(i), tail.end());
  }
  return rt::Bytes();
}

void AppendLogLine(const rt::Text& path, const rt::Text& time, const rt::Text& line) {
  {
    // Shared, so a launcher and an updater ending and starting at once both
    // get their lines in.
    rt::OpenedFile file(rt::OpenFile(path, rt::kModeOpenOrCreate, rt::kShareDenyNone));
    if (!file) return;
    const rt::Text text = time + " " + line + "\r\n";
    if (!rt::SeekToEnd(file.get()) || !rt::WriteToFile(file.get(), rt::ToBytes(text))) return;
  }
  const int64_t size = rt::FileSize64(path);
  if (size > kLogMaxBytes) TrimLog(path, size);
}

rt::Text Seconds(uint32_t ms) { return rt::FormatText("%.2f s", ms / 1000.0); }

rt::Text KilobytesPerSecond(int64_t bytes, uint32_t ms) {
  if (ms == 0) ms = 1;
  return rt::FormatText("%.2f KB/s", static_cast<double>(bytes) / 1024.0 / (ms / 1000.0));
}

}  // namespace app

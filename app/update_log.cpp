#include "app/update_log.h"

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace app {

rt::Bytes TrimmedLog(const rt::Bytes& content, int64_t max_bytes) {
  if (static_cast<int64_t>(content.size()) <= max_bytes) return content;
  size_t start = content.size() / 2;
  // Whole lines only: the older half goes up to the next line end.
  while (start < content.size() && content[start - 1] != '\n') ++start;
  return rt::Bytes(content.begin() + static_cast<std::ptrdiff_t>(start), content.end());
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
  if (rt::FileSize64(path) <= kLogMaxBytes) return;
  const rt::Bytes content = rt::ReadWholeFile(path);
  if (content.empty()) return;
  (void)rt::WriteWholeFile(path, TrimmedLog(content, kLogMaxBytes));
}

rt::Text Seconds(uint32_t ms) { return rt::FormatText("%.2f s", ms / 1000.0); }

rt::Text KilobytesPerSecond(int64_t bytes, uint32_t ms) {
  if (ms == 0) ms = 1;
  return rt::FormatText("%.2f KB/s", static_cast<double>(bytes) / 1024.0 / (ms / 1000.0));
}

}  // namespace app

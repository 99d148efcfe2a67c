#include "app/run/run_log.h"

#include <mutex>

#include "app/update_log.h"
#include "runtime/convert.h"

namespace app {

rt::Text FormatTryLine(const TryLine& t) {
  const net::DownloadReport& r = t.report;
  rt::Text line = "file " + t.path + ": result " + rt::ToText(static_cast<int32_t>(r.result)) + " (" +
                  net::ToString(r.result) + "), " + rt::ToText(r.received) + " bytes";
  if (r.resumed) line += " from offset " + rt::ToText(r.resumed_from);
  line += ", " + Seconds(t.ms) + ", " + KilobytesPerSecond(r.received, t.ms);
  if (t.verdict) {
    if (t.verdict->ok) {
      line += t.form ? ", size and SHA-256 ok" : t.has_digest ? ", checksum ok, size and SHA-256 ok" : ", checksum ok";
    } else {
      line += ", MISMATCH: " + t.verdict->reason;
    }
  }
  const std::string why = net::Describe(r);
  if (!why.empty()) line += ", " + why;
  line += ", mirror " + t.mirror;
  if (r.connection_id != 0) line += ", connection " + rt::ToText(r.connection_id) + (r.reused ? " reused" : " new");
  if (r.proxy_issue != net::ProxyIssue::kNone) {
    line += std::string(", proxy setting not followed: ") + net::ToString(r.proxy_issue);
  }
  return line;
}

rt::Text FormatInstalledLine(const rt::Text& path, int64_t bytes) {
  return "installed " + path + " (" + rt::ToText(bytes) + " bytes)";
}

rt::Text FormatRunStartLine(int32_t files, int32_t at_once) {
  return "download run: " + rt::ToText(files) + " files, " + rt::ToText(at_once) + " at once";
}

rt::Text FormatRunDoneLine(int32_t files, uint32_t ms, const rt::Text& restart) {
  return "download run done: " + rt::ToText(files) + " files in " + Seconds(ms) + "; restart " + restart;
}

void RunLog::Line(const rt::Text& line) {
  std::lock_guard<rt::Lock> hold(lock_);
  write_(line);
}

}  // namespace app

#include "app/remote_list.h"

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace app {

bool IsUnsafeEntryPath(const rt::Text& path) {
  if (path.empty()) return true;
  if (path[0] == '\\' || path[0] == '/') return true;  // absolute or UNC
  if (rt::FindText(path, ":") != -1) return true;      // drive prefix, stream name
  char last = path.back();
  if (last == '\\' || last == '/') return true;
  // Segments, split GBK-aware at both separators.
  for (const rt::Text& piece : rt::SplitText(path, "\\")) {
    for (const rt::Text& segment : rt::SplitText(piece, "/")) {
      // "..", and the forms Windows reads as it (".. ", "..."): dots and
      // blanks only, two dots or more.
      rt::Text trimmed = segment;
      while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '.')) trimmed.pop_back();
      if (trimmed.empty() && segment.find("..") != rt::Text::npos) return true;
      if (rt::IsReservedDeviceName(segment)) return true;
    }
  }
  return false;
}

RemoteList ParseRemoteList(const rt::Bytes& body) {
  RemoteList list;
  rt::Text content = rt::ToText(body);
  rt::TextArray lines = rt::SplitText(content, "\r\n");
  // No line at all, or an HTML error page from the server.
  if (lines.empty() || rt::FindText(content, "<") != -1) return list;
  list.rows.resize(lines.size());
  list.is_entry.resize(lines.size(), false);
  for (size_t i = 0; i < lines.size(); ++i) {
    rt::TextArray fields = rt::SplitText(lines[i], "#");
    if (fields.size() != 2) continue;
    if (IsUnsafeEntryPath(fields[0])) return RemoteList();
    list.rows[i] = RemoteRow{fields[0], fields[1]};
    list.is_entry[i] = true;
  }
  list.usable = true;
  return list;
}

}  // namespace app

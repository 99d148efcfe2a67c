#include "app/remote_list.h"

#include "runtime/convert.h"
#include "runtime/text.h"

namespace app {
namespace {

rt::Text UpperAscii(rt::Text s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

bool IsReservedDeviceName(const rt::Text& segment) {
  // The device name counts with any extension and trailing blanks or dots.
  rt::Text base = UpperAscii(segment.substr(0, segment.find('.')));
  while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.pop_back();
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* name : kNames)
    if (base == name) return true;
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
      base[3] <= '9')
    return true;
  return false;
}

}  // namespace

bool IsUnsafeEntryPath(const rt::Text& path) {
  if (path.empty()) return true;
  if (path[0] == '\\' || path[0] == '/') return true;  // absolute or UNC
  if (rt::FindText(path, ":") != -1) return true;      // drive prefix, stream name
  char last = path.back();
  if (last == '\\' || last == '/') return true;
  // Segments, split GBK-aware at both separators.
  for (const rt::Text& piece : rt::SplitText(path, "\\")) {
    for (const rt::Text& segment : rt::SplitText(piece, "/")) {
      rt::Text trimmed = segment;
      while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '.')) trimmed.pop_back();
      if (segment == ".." || (trimmed.empty() && segment.find("..") != rt::Text::npos)) return true;
      if (IsReservedDeviceName(segment)) return true;
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

#include "app/remote_list.h"

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace app {
namespace {

// The updater's own files in the client folder, which a list must not replace.
constexpr const char* kWorkingNames[] = {"update.dat", "game.dat", "update.log", "update.seq"};
constexpr const char kPartialSuffix[] = ".tmp";

// A GBK trail byte: 0x40..0xFE without 0x7F.
bool IsGbkTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// Every lead byte followed by a trail byte; no 0x80 or 0xFF on its own.
bool IsWellFormedGbk(const rt::Text& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b == 0x80 || b == 0xFF) return false;
    if (!rt::IsGbkLead(b)) continue;
    if (i + 1 >= text.size() || !IsGbkTrail(static_cast<unsigned char>(text[i + 1]))) return false;
    ++i;
  }
  return true;
}

// A name as Windows resolves it: trailing dots and blanks dropped, ASCII
// letters folded.
rt::Text NameAsResolved(const rt::Text& name) {
  rt::Text out = name;
  while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EndsWith(const rt::Text& text, const rt::Text& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Calls `line(text)` for every line as SplitText at CR LF gives them (GBK-aware,
// an empty last piece dropped), without holding them all.
template <typename Visit>
void ForEachLine(const rt::Text& content, Visit line) {
  size_t start = 0, i = 0;
  while (i < content.size()) {
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
      line(content.substr(start, i - start));
      i += 2;
      start = i;
    } else {
      i += rt::GbkCharLength(content, i);
    }
  }
  if (start < content.size()) line(content.substr(start));
}

}  // namespace

bool IsUnsafeEntryPath(const rt::Text& path) {
  if (path.empty()) return true;
  if (!IsWellFormedGbk(path)) return true;
  if (path[0] == '\\' || path[0] == '/') return true;  // absolute or UNC
  if (rt::FindText(path, ":") != -1) return true;      // drive prefix, stream name
  // A trailing separator character (a trail byte 0x5C is no separator).
  const size_t last = path.size() - 1;
  if (rt::FindLastChar(path, '\\') == last || rt::FindLastChar(path, '/') == last) return true;
  // Segments, split GBK-aware at both separators.
  size_t named_segments = 0;
  rt::Text last_name;
  for (const rt::Text& piece : rt::SplitText(path, "\\")) {
    for (const rt::Text& segment : rt::SplitText(piece, "/")) {
      // "..", and the forms Windows reads as it (".. ", "..."): dots and
      // blanks only, two dots or more.
      rt::Text trimmed = segment;
      while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '.')) trimmed.pop_back();
      if (trimmed.empty() && segment.find("..") != rt::Text::npos) return true;
      if (rt::IsReservedDeviceName(segment)) return true;
      if (!trimmed.empty()) {
        ++named_segments;
        last_name = NameAsResolved(segment);
      }
    }
  }
  if (EndsWith(last_name, kPartialSuffix)) return true;
  if (named_segments == 1) {
    for (const char* own : kWorkingNames) {
      if (last_name == own) return true;
    }
  }
  return false;
}

RemoteList ParseRemoteList(const rt::Bytes& body) {
  RemoteList list;
  const rt::Text content = rt::ToText(body);
  // No line at all, or an HTML error page from the server.
  if (content.empty() || rt::FindText(content, "<") != -1) return list;
  size_t entries = 0;
  ForEachLine(content, [&entries](const rt::Text& line) {
    if (rt::SplitText(line, "#").size() == 2) ++entries;
  });
  list.entries.reserve(entries);
  bool safe = true;
  ForEachLine(content, [&list, &safe](const rt::Text& line) {
    rt::TextArray fields = rt::SplitText(line, "#");
    if (!safe || fields.size() != 2) return;
    // An empty path with checksum "0" reads as up to date (a missing file
    // sums to 0) and is never fetched: harmless.
    const bool harmless = fields[0].empty() && fields[1] == "0";
    if (!harmless && IsUnsafeEntryPath(fields[0])) {
      safe = false;
      return;
    }
    list.entries.push_back(PatchEntry{fields[0], fields[1]});
  });
  if (!safe) return RemoteList();
  list.usable = true;
  return list;
}

}  // namespace app

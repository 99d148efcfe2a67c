#include "tools/patchtool/list_names.h"

#include <cstring>

#include "runtime/files.h"
#include "runtime/text.h"

namespace patchtool {
namespace {

// Bytes that may not stand alone in a listed name; "#" and "<" break the
// list, the others are illegal in Windows names.
constexpr char kForbidden[] = "#<>:\"/\\|?*";

bool EndsWith(const rt::Text& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

}  // namespace

rt::Text FoldCase(const rt::Text& text) {
  rt::Text folded = text;
  for (size_t i = 0; i < folded.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(folded[i]);
    if (rt::IsGbkLead(byte) && i + 1 < folded.size()) {
      ++i;  // the trail byte of a pair is no letter
    } else if (byte >= 'A' && byte <= 'Z') {
      folded[i] = static_cast<char>(byte - 'A' + 'a');
    }
  }
  return folded;
}

std::string UnsafeSegmentReason(const rt::Text& segment) {
  if (segment.empty()) return "empty name";
  if (segment == "." || segment == "..") return "a \".\" or \"..\" segment";
  for (size_t i = 0; i < segment.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(segment[i]);
    if (rt::IsGbkLead(byte)) {
      if (i + 1 >= segment.size()) return "a broken double-byte character";
      // The updater turns every 0x5C byte into "/" for the download URL,
      // the second byte of a pair included.
      if (segment[i + 1] == '\\') return "a character whose second GBK byte is \"\\\"";
      ++i;
      continue;
    }
    if (byte < 0x20 || byte == 0x7F) return "a control character";
    if (byte >= 0x80) return "a byte that is no GBK character";
    if (std::strchr(kForbidden, byte) != nullptr) return std::string("the character \"") + char(byte) + "\"";
  }
  if (EndsWith(segment, ".") || EndsWith(segment, " ")) return "a trailing dot or blank";
  if (rt::IsReservedDeviceName(segment)) return "a reserved device name";
  return std::string();
}

bool IsSkippedName(const rt::Text& name, bool top_level) {
  const rt::Text folded = FoldCase(name);
  if (top_level && (folded == "update.dat" || folded == "game.dat" || folded == "update.log" ||
                    folded == "update.seq")) {
    return true;
  }
  return EndsWith(folded, ".tmp");
}

bool IsListName(const rt::Text& name) { return FoldCase(name) == "filelist.txt"; }

}  // namespace patchtool

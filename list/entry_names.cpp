#include "list/entry_names.h"

#include <cstring>

#include "list/layout.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace list {
namespace {

constexpr char kForbidden[] = "#<>:\"/\\|?*";
constexpr char kSeparator = '\\';

// The segments between "\" separators, empty ones kept; a lead byte takes the
// byte after it whatever it is, so a trail byte 0x5C never separates.
rt::TextArray Segments(const rt::Text& path) {
  rt::TextArray segments(1);
  for (size_t i = 0; i < path.size();) {
    const size_t length = rt::GbkCharLength(path, i);
    if (length == 1 && path[i] == kSeparator) {
      segments.emplace_back();
    } else {
      segments.back().append(path, i, length);
    }
    i += length;
  }
  return segments;
}

NameCheck Fault(NameFault fault, char character = 0) { return NameCheck{fault, character}; }

}  // namespace

std::string Reason(const NameCheck& check) {
  switch (check.fault) {
    case NameFault::kNone: return std::string();
    case NameFault::kEmpty: return "an empty name";
    case NameFault::kRooted: return "an absolute path";
    case NameFault::kDotSegment: return "a \".\" or \"..\" segment";
    case NameFault::kControlCharacter: return "a control character";
    case NameFault::kForbiddenCharacter: return std::string("the character \"") + check.character + "\"";
    case NameFault::kNotGbk: return "a byte that is no GBK character";
    case NameFault::kTrailingDotOrBlank: return "a trailing dot or blank";
    case NameFault::kDeviceName: return "a reserved device name";
    case NameFault::kPartialFile: return "a partial download (*.tmp)";
    case NameFault::kWorkingName: return "one of the updater's own files";
    case NameFault::kListName: return "the name of the file list";
  }
  return "unknown";
}

rt::Text FoldCase(const rt::Text& text) {
  rt::Text folded = text;
  for (size_t i = 0; i < folded.size(); i += rt::GbkCharLength(folded, i)) {
    const auto byte = static_cast<unsigned char>(folded[i]);
    if (byte >= 'A' && byte <= 'Z') folded[i] = static_cast<char>(byte - 'A' + 'a');
  }
  return folded;
}

NameCheck CheckNameSegment(const rt::Text& segment) {
  if (segment.empty()) return Fault(NameFault::kEmpty);
  if (segment == "." || segment == "..") return Fault(NameFault::kDotSegment);
  for (size_t i = 0; i < segment.size(); ++i) {
    const auto byte = static_cast<unsigned char>(segment[i]);
    if (rt::IsGbkLead(byte)) {
      if (i + 1 >= segment.size() || !rt::IsGbkTrail(static_cast<unsigned char>(segment[i + 1]))) {
        return Fault(NameFault::kNotGbk);
      }
      ++i;
      continue;
    }
    if (byte < 0x20 || byte == 0x7F) return Fault(NameFault::kControlCharacter);
    if (byte >= 0x80) return Fault(NameFault::kNotGbk);
    if (std::strchr(kForbidden, byte) != nullptr) return Fault(NameFault::kForbiddenCharacter, static_cast<char>(byte));
  }
  if (rt::EndsWith(segment, ".") || rt::EndsWith(segment, " ")) return Fault(NameFault::kTrailingDotOrBlank);
  if (rt::IsReservedDeviceName(segment)) return Fault(NameFault::kDeviceName);
  return NameCheck();
}

NameCheck CheckEntryPath(const rt::Text& path) {
  if (path.empty()) return Fault(NameFault::kEmpty);
  if (path[0] == kSeparator || path[0] == '/') return Fault(NameFault::kRooted);
  const rt::TextArray segments = Segments(path);
  // Partial downloads and working files first: patchtool leaves them out
  // whatever else is odd about their names.
  const rt::Text last = FoldCase(segments.back());
  if (rt::EndsWith(last, kPartialSuffix)) return Fault(NameFault::kPartialFile);
  if (segments.size() == 1) {
    for (const char* own : kWorkingNames) {
      if (last == own) return Fault(NameFault::kWorkingName);
    }
  }
  for (const rt::Text& segment : segments) {
    const NameCheck check = CheckNameSegment(segment);
    if (!check.ok()) return check;
  }
  if (segments.size() == 1 && last == kListFileName) return Fault(NameFault::kListName);
  return NameCheck();
}

}  // namespace list

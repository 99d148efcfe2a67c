// Links on the way to a file: the portable walk over a path's components.
#include "runtime/file_access.h"
#include "runtime/text.h"

namespace rt {

std::vector<PathLink> FindLinksBelow(const Text& base, const Text& path) {
  std::vector<PathLink> links;
  const bool base_ends_in_separator = !base.empty() && (base.back() == '\\' || base.back() == '/');
  const Text prefix = base.empty() || base_ends_in_separator ? base : base + "\\";
  // Bounded: one look per component. A GBK trail byte 0x5C is no separator.
  for (size_t i = 0; i < path.size();) {
    const size_t length = GbkCharLength(path, i);
    const bool separator = length == 1 && (path[i] == '\\' || path[i] == '/');
    const bool last = i + length == path.size();
    if (separator || last) {
      const Text component = path.substr(0, separator ? i : path.size());
      if (!component.empty() && component.back() != '\\' && component.back() != '/') {
        const EntryKind kind = EntryKindOf(prefix + component);
        if (kind == EntryKind::kNothing) break;
        if (kind == EntryKind::kLink) {
          links.push_back(PathLink{component, ResolveLink(prefix + component)});
          if (!links.back().resolved()) break;
        }
      }
    }
    i += length;
  }
  return links;
}

}  // namespace rt

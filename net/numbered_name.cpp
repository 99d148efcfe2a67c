#include "net/numbered_name.h"

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace net {
namespace {

rt::Text Marker(int i) { return "(" + rt::ToText(static_cast<int32_t>(i)) + ")."; }

// First piece, marker, second piece; pieces after the second "." are dropped.
rt::Text Rebuild(const rt::Text& name, const rt::Text& marker) {
  const rt::TextArray pieces = rt::SplitText(name, ".");
  const rt::Text first = pieces.size() >= 1 ? pieces[0] : rt::Text();
  const rt::Text second = pieces.size() >= 2 ? pieces[1] : rt::Text();
  return first + marker + second;
}

}  // namespace

rt::Text NumberedFreeName(const rt::Text& save_path, const rt::Text& url_file_name) {
  rt::Text path = save_path;
  rt::Text file_name = url_file_name;
  for (int i = 1; i <= kMaxNumberedName; ++i) {
    const rt::Text previous = Marker(i - 1);
    const rt::Text marker = Marker(i);
    path = rt::ReplaceText(path, previous, marker, 1, 1);
    file_name = rt::ReplaceText(file_name, previous, marker, 1, 1);
    if (rt::FindText(file_name, marker) == -1) {
      path = Rebuild(path, marker);
      file_name = Rebuild(file_name, marker);
    }
    if (!rt::FileExists(path)) break;
  }
  return path;
}

}  // namespace net

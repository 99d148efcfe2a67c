// The portable parts of the process services: command-line splitting and
// show-mode rules.
#include "runtime/process.h"

#include "runtime/text.h"

namespace rt {
namespace {

inline bool IsSeparator(unsigned char b) { return b < 0x21; }

// Reads one argument starting at `i` (not a separator); returns its text and
// moves `i` past it.
Text ReadArgument(const Text& s, size_t& i) {
  if (s[i] == '"') {
    size_t end = s.find('"', i + 1);
    Text arg = s.substr(i + 1, (end == Text::npos ? s.size() : end) - (i + 1));
    i = (end == Text::npos) ? s.size() : end + 1;
    return arg;
  }
  size_t start = i;
  while (i < s.size() && !IsSeparator(static_cast<unsigned char>(s[i]))) i += GbkCharLength(s, i);
  return s.substr(start, i - start);
}

}  // namespace

TextArray SplitCommandLine(const Text& command_line) {
  TextArray all;
  size_t i = 0;
  const Text& s = command_line;
  while (i < s.size()) {
    if (IsSeparator(static_cast<unsigned char>(s[i]))) {
      ++i;
      continue;
    }
    all.push_back(ReadArgument(s, i));
  }
  if (!all.empty()) all.erase(all.begin());  // the program name
  return all;
}

int32_t ClampShowMode(int32_t mode) {
  if (mode < kShowHidden) return kShowHidden;
  if (mode > kShowMinNoActive) return kShowMinNoActive;
  return mode;
}

int32_t ShowModeToShowCommand(int32_t mode) {
  // SW_HIDE, SW_SHOWNORMAL, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED,
  // SW_SHOWNOACTIVATE, SW_SHOWMINNOACTIVE
  static const int32_t kCommands[] = {0, 1, 2, 3, 4, 7};
  return kCommands[ClampShowMode(mode) - 1];
}

}  // namespace rt

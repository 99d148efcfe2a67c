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

TextArray SplitCommandWords(const Text& command_line) {
  TextArray words;
  const Text& s = command_line;
  for (size_t i = 0; i < s.size();) {
    if (IsSeparator(static_cast<unsigned char>(s[i]))) {
      ++i;
      continue;
    }
    words.push_back(ReadArgument(s, i));
  }
  return words;
}

TextArray SplitCommandLine(const Text& command_line) {
  TextArray args = SplitCommandWords(command_line);
  if (!args.empty()) args.erase(args.begin());  // the program name
  return args;
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

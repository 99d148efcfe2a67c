#include <unistd.h>

#include <cstdio>

#include "tools/patchtool/console.h"

namespace patchtool {
namespace {

size_t g_progress_drawn = 0;  // bytes of the progress line standing on the terminal

// A message takes the line of a progress line standing there; the next
// redraw puts the progress below it.
void ClearProgress() {
  if (g_progress_drawn == 0) return;
  const std::string blank = "\r" + std::string(g_progress_drawn, ' ') + "\r";
  std::fwrite(blank.data(), 1, blank.size(), stderr);
  std::fflush(stderr);
  g_progress_drawn = 0;
}

}  // namespace

void PrintOut(const std::string& utf8_line) {
  ClearProgress();
  std::fwrite(utf8_line.data(), 1, utf8_line.size(), stdout);
  std::fputc('\n', stdout);
}

void PrintErr(const std::string& utf8_line) {
  std::fflush(stdout);
  ClearProgress();
  std::fwrite(utf8_line.data(), 1, utf8_line.size(), stderr);
  std::fputc('\n', stderr);
}

bool ProgressShown() { return isatty(2) == 1; }

void ShowProgress(const std::string& utf8_line, bool last) {
  std::fflush(stdout);
  std::string line = "\r" + utf8_line;
  if (utf8_line.size() < g_progress_drawn) line.append(g_progress_drawn - utf8_line.size(), ' ');
  g_progress_drawn = last ? 0 : utf8_line.size();
  if (last) line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace patchtool

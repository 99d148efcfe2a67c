#include <cstdio>

#include "tools/patchtool/console.h"

namespace patchtool {

void PrintOut(const std::string& utf8_line) {
  std::fwrite(utf8_line.data(), 1, utf8_line.size(), stdout);
  std::fputc('\n', stdout);
}

void PrintErr(const std::string& utf8_line) {
  std::fflush(stdout);
  std::fwrite(utf8_line.data(), 1, utf8_line.size(), stderr);
  std::fputc('\n', stderr);
}

}  // namespace patchtool

#include <unistd.h>

#include <cstring>

#include "runtime/memory.h"

namespace rt {

void FatalError(const char* gbk_message) {
  // Raw bytes, no allocation: this also reports a failed allocation.
  ssize_t ignored = ::write(2, gbk_message, std::strlen(gbk_message));
  ignored = ::write(2, "\n", 1);
  (void)ignored;
  ::_exit(1);
}

}  // namespace rt

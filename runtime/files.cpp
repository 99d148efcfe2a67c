// The portable parts of the file services.
#include "runtime/files.h"

namespace rt {

bool ReadExactly(int32_t file, std::uint8_t* out, size_t size) {
  while (size > 0) {
    const int64_t got = ReadFromFile(file, out, size);
    if (got <= 0) return false;
    out += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace rt

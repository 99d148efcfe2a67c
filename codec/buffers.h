#pragma once
// The caller-owned buffers a codec is driven through: it reads from `data`
// at `pos` and advances `pos` past what it consumed, and writes to `data` at
// `pos` up to `size` and advances `pos` past what it produced. The codec never
// keeps a pointer into either beyond the call.
#include <cstddef>
#include <cstdint>

namespace codec {

struct InBuffer {
  const std::uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  size_t left() const { return size - pos; }
};

struct OutBuffer {
  std::uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  size_t room() const { return size - pos; }
};

}  // namespace codec

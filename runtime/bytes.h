#pragma once
// Byte-buffer operations; positions are 1-based.
#include <cstddef>
#include <cstdint>
#include <variant>

#include "runtime/types.h"

namespace rt {

int32_t BytesLength(const Bytes& buffer);
// The first / last min(n, length) bytes; negative n gives the empty buffer.
Bytes BytesLeft(const Bytes& buffer, int32_t n);
Bytes BytesRight(const Bytes& buffer, int32_t n);
// n bytes from 1-based `start`: start below 1 is taken as 1, start beyond the
// end gives the empty buffer, the result is cut at the end.
Bytes BytesMid(const Bytes& buffer, int32_t start, int32_t n);
// 1-based position of `wanted` at or after `start`, or -1.
int32_t FindBytes(const Bytes& buffer, const Bytes& wanted, int32_t start = 1);
// n zero bytes; n <= 0 gives the empty buffer.
Bytes ZeroBytes(int32_t n);

// Value types of ReadTypedValue.
enum class ValueType : int32_t {
  kByte = 1,
  kInt16 = 2,
  kInt32 = 3,
  kInt64 = 4,
  kFloat = 5,
  kDouble = 6,
  kBool = 7,
  kDate = 8,
  kAddress = 9,
  kText = 10,
};
using TypedValue = std::variant<int64_t, double, bool, Text>;

// The little-endian value of `type` stored at 1-based `position`. Bytes past
// the end read as zero. A type outside 1..10 is a fatal error.
TypedValue ReadTypedValue(const Bytes& buffer, int32_t type, int32_t position = 1);

// A copy of n bytes of memory.
Bytes BytesFromAddress(const void* address, int32_t n);

}  // namespace rt

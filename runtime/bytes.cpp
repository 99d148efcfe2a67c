#include "runtime/bytes.h"

#include <algorithm>
#include <cstring>

#include "runtime/convert.h"
#include "runtime/memory.h"

namespace rt {

int32_t BytesLength(const Bytes& buffer) { return static_cast<int32_t>(buffer.size()); }

Bytes BytesLeft(const Bytes& buffer, int32_t n) {
  if (n <= 0) return Bytes();
  size_t k = std::min(static_cast<size_t>(n), buffer.size());
  return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(k));
}

Bytes BytesRight(const Bytes& buffer, int32_t n) {
  if (n <= 0) return Bytes();
  size_t k = std::min(static_cast<size_t>(n), buffer.size());
  return Bytes(buffer.end() - static_cast<std::ptrdiff_t>(k), buffer.end());
}

Bytes BytesMid(const Bytes& buffer, int32_t start, int32_t n) {
  if (start < 1) start = 1;
  if (n <= 0 || static_cast<size_t>(start) > buffer.size()) return Bytes();
  size_t from = static_cast<size_t>(start - 1);
  size_t k = std::min(static_cast<size_t>(n), buffer.size() - from);
  return Bytes(buffer.begin() + static_cast<std::ptrdiff_t>(from),
               buffer.begin() + static_cast<std::ptrdiff_t>(from + k));
}

int32_t FindBytes(const Bytes& buffer, const Bytes& wanted, int32_t start) {
  if (start < 1) start = 1;
  if (wanted.empty() || static_cast<size_t>(start - 1) >= buffer.size()) return -1;
  auto it = std::search(buffer.begin() + (start - 1), buffer.end(), wanted.begin(), wanted.end());
  if (it == buffer.end()) return -1;
  return static_cast<int32_t>(it - buffer.begin()) + 1;
}

Bytes ZeroBytes(int32_t n) { return n <= 0 ? Bytes() : Bytes(static_cast<size_t>(n), 0); }

TypedValue ReadTypedValue(const Bytes& buffer, int32_t type, int32_t position) {
  if (type < 1 || type > 10) FatalError("“欲取出数据的类型”参数值无效");
  if (position < 1) position = 1;
  size_t from = static_cast<size_t>(position - 1);
  auto raw = [&](size_t size) {
    std::uint8_t tmp[8] = {0};
    for (size_t i = 0; i < size && from + i < buffer.size(); ++i) tmp[i] = buffer[from + i];
    uint64_t v = 0;
    std::memcpy(&v, tmp, 8);
    return v;
  };
  switch (static_cast<ValueType>(type)) {
    case ValueType::kByte: return static_cast<int64_t>(raw(1) & 0xFF);
    case ValueType::kInt16: return static_cast<int64_t>(static_cast<int16_t>(raw(2)));
    case ValueType::kInt32: return static_cast<int64_t>(static_cast<int32_t>(raw(4)));
    case ValueType::kInt64: return static_cast<int64_t>(raw(8));
    case ValueType::kAddress: return static_cast<int64_t>(static_cast<uint32_t>(raw(4)));
    case ValueType::kFloat: {
      uint32_t bits = static_cast<uint32_t>(raw(4));
      float f;
      std::memcpy(&f, &bits, 4);
      return static_cast<double>(f);
    }
    case ValueType::kDouble:
    case ValueType::kDate: {
      uint64_t bits = raw(8);
      double d;
      std::memcpy(&d, &bits, 8);
      return d;
    }
    case ValueType::kBool: return static_cast<uint32_t>(raw(4)) != 0;
    case ValueType::kText:
      return from < buffer.size() ? ToText(Bytes(buffer.begin() + static_cast<std::ptrdiff_t>(from), buffer.end()))
                                  : Text();
  }
  return int64_t{0};
}

Bytes BytesFromAddress(const void* address, int32_t n) {
  if (!address || n <= 0) return Bytes();
  const auto* p = static_cast<const std::uint8_t*>(address);
  return Bytes(p, p + n);
}

}  // namespace rt

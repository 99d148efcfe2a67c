// The whole-image form, built on the byte-buffer operations with their
// 1-based, clamping positions.
#include "payload/payload.h"

#include "runtime/bytes.h"
#include "runtime/convert.h"

namespace payload {

std::optional<rt::Bytes> ExtractPayload(const rt::Bytes& image) {
  const int32_t length = rt::BytesLength(image);
  if (rt::BytesRight(image, kMarkerSize) != rt::ToBytes(rt::Text(kMarker))) return std::nullopt;
  const int32_t count =
      rt::ToInteger(rt::ToText(rt::BytesMid(image, length - (kTrailerSize - 1), kCountFieldSize)));
  // In 64 bits: a count near INT32_MIN must not wrap the start position.
  int64_t start = int64_t{length} - count - (kTrailerSize - 1);
  if (start < 1) start = 1;
  if (start > int64_t{length} + 1) start = int64_t{length} + 1;
  return rt::BytesMid(image, static_cast<int32_t>(start), count);
}

}  // namespace payload

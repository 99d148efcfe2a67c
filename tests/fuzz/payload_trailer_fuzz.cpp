// The payload trailer read from the end of any file image, two ways (whole
// image, and file length plus tail) that must agree and stay inside the file;
// and a payload packed with FormatTrailer comes back unchanged.
#include <cstdint>

#include "payload/payload.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const rt::Bytes image(data, data + size);
  const int64_t length = static_cast<int64_t>(size);
  const int64_t tail_size = length < payload::kTrailerSize ? length : payload::kTrailerSize;

  const std::optional<rt::Bytes> whole = payload::ExtractPayload(image);
  const std::optional<payload::PayloadRange> range =
      payload::LocateInTail(length, data + (size - static_cast<std::size_t>(tail_size)), tail_size);
  FUZZ_CHECK(whole.has_value() == range.has_value());
  if (range) {
    FUZZ_CHECK(range->offset >= 0 && range->size >= 0);
    FUZZ_CHECK(range->offset + range->size <= length);
    FUZZ_CHECK(whole->size() == static_cast<std::size_t>(range->size));
    FUZZ_CHECK(rt::Bytes(data + range->offset, data + range->offset + range->size) == *whole);
  }

  // The input as a payload behind a small image.
  const rt::Text trailer = payload::FormatTrailer(length);
  FUZZ_CHECK(trailer.size() == static_cast<std::size_t>(payload::kTrailerSize));
  rt::Bytes packed = {'M', 'Z', 0, 1};
  packed.insert(packed.end(), data, data + size);
  packed.insert(packed.end(), trailer.begin(), trailer.end());
  const std::optional<rt::Bytes> back = payload::ExtractPayload(packed);
  FUZZ_CHECK(back.has_value() && *back == image);
  return 0;
}

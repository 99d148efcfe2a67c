#pragma once
// The game payload carried behind the updater's executable image.
//
// Layout of a packed file of length L: the image, then the payload of N bytes,
// then a 15-byte trailer: N in decimal, right-aligned and blank-padded in 12
// characters, followed by the marker "#!@". The payload is found from the end
// of the file alone; the count is read leniently (as an integer text) and is
// not checked against L, so a wrong count selects whatever bytes its
// arithmetic points at, clamped to the file.
#include <cstdint>
#include <optional>

#include "runtime/types.h"

namespace payload {

constexpr int32_t kTrailerSize = 15;
constexpr int32_t kCountFieldSize = 12;
constexpr int32_t kMarkerSize = 3;
// The marker bytes 0x23 0x21 0x40.
inline constexpr char kMarker[] = "#!@";
// The largest count the trailer can carry (it is read as a signed 32-bit value).
constexpr int64_t kMaxPayloadSize = INT32_MAX;

// Where the payload lies in a file: `size` bytes from 0-based `offset`.
struct PayloadRange {
  int64_t offset = 0;
  int64_t size = 0;
};

// The payload of a whole file image, or nothing when the image does not end
// with the marker.
std::optional<rt::Bytes> ExtractPayload(const rt::Bytes& image);

// The same rules over a file known only by its length and its last
// min(15, length) bytes (`tail`, `tail_size` of them).
std::optional<PayloadRange> LocateInTail(int64_t file_length, const std::uint8_t* tail,
                                         int64_t tail_size);

// Reads the last 15 bytes of the file; nothing when it cannot be read or has
// no marker.
std::optional<PayloadRange> LocatePayload(const rt::Text& path);

// Creates or truncates `to` and copies the range of `from` into it in chunks.
// False when a file cannot be opened, read or written, or `from` ends early.
[[nodiscard]] bool CopyPayload(const rt::Text& from, const PayloadRange& range, const rt::Text& to);

// The 15-byte trailer for a payload of n bytes; the empty text when n is
// negative or above kMaxPayloadSize.
rt::Text FormatTrailer(int64_t n);

}  // namespace payload

// The streamed form: the payload is located from the file's last bytes and
// copied range by range, never holding the file in memory.
#include <algorithm>
#include <vector>

#include "payload/payload.h"
#include "runtime/convert.h"
#include "runtime/files.h"

namespace payload {
namespace {

constexpr size_t kCopyChunk = 1 << 20;

}  // namespace

std::optional<PayloadRange> LocateInTail(int64_t file_length, const std::uint8_t* tail,
                                         int64_t tail_size) {
  if (file_length < kMarkerSize || tail_size < kMarkerSize) return std::nullopt;
  const std::uint8_t* end = tail + tail_size;
  if (!std::equal(end - kMarkerSize, end, kMarker)) return std::nullopt;

  // The count field is the 12 bytes before the marker; in a file shorter than
  // the trailer it starts at the file's first byte instead and takes what is
  // there, marker included.
  const int64_t tail_start = file_length - tail_size;
  const int64_t field_start = std::max<int64_t>(0, file_length - kTrailerSize);
  const int64_t field_end = std::min<int64_t>(field_start + kCountFieldSize, file_length);
  if (field_start < tail_start) return std::nullopt;  // the caller gave too short a tail
  const rt::Text field(tail + (field_start - tail_start), tail + (field_end - tail_start));
  const int32_t count = rt::ToInteger(rt::ToText(rt::Bytes(field.begin(), field.end())));

  PayloadRange range;
  if (count <= 0) return range;
  // The payload ends right before the count field; a count reaching past the
  // file's start is clamped to it and the range cut at the file's end.
  const int64_t start = std::max<int64_t>(0, file_length - count - kTrailerSize);
  range.offset = start;
  range.size = std::min<int64_t>(count, file_length - start);
  return range;
}

std::optional<PayloadRange> LocatePayload(const rt::Text& path) {
  const int64_t length = rt::FileSize64(path);
  if (length < kMarkerSize) return std::nullopt;
  rt::OpenedFile file(rt::OpenFile(path, rt::kModeRead, rt::kShareDenyNone));
  if (!file) return std::nullopt;
  const int64_t tail_size = std::min<int64_t>(kTrailerSize, length);
  std::uint8_t tail[kTrailerSize];
  if (!rt::SeekFile(file.get(), length - tail_size)) return std::nullopt;
  if (!rt::ReadExactly(file.get(), tail, static_cast<size_t>(tail_size))) return std::nullopt;
  return LocateInTail(length, tail, tail_size);
}

bool CopyPayload(const rt::Text& from, const PayloadRange& range, const rt::Text& to) {
  if (range.offset < 0 || range.size < 0) return false;
  rt::OpenedFile source(rt::OpenFile(from, rt::kModeRead, rt::kShareDenyNone));
  if (!source) return false;
  rt::OpenedFile target(rt::OpenFile(to, rt::kModeCreateWrite, rt::kShareExclusive));
  if (!target) return false;
  if (!rt::SeekFile(source.get(), range.offset)) return false;

  std::vector<std::uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(range.size, kCopyChunk)));
  int64_t left = range.size;
  while (left > 0) {
    const size_t chunk = static_cast<size_t>(std::min<int64_t>(left, kCopyChunk));
    if (!rt::ReadExactly(source.get(), buffer.data(), chunk)) return false;
    if (!rt::WriteToFile(target.get(), buffer.data(), chunk)) return false;
    left -= static_cast<int64_t>(chunk);
  }
  return true;
}

rt::Text FormatTrailer(int64_t n) {
  if (n < 0 || n > kMaxPayloadSize) return rt::Text();
  rt::Text digits = std::to_string(n);
  return rt::Text(kCountFieldSize - digits.size(), ' ') + digits + kMarker;
}

}  // namespace payload

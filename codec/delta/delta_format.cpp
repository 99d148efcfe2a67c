#include "codec/delta/delta_format.h"

#include <cstring>

namespace codec::delta {
namespace {

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}
std::uint32_t Load32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Store64(std::uint64_t value, std::vector<std::uint8_t>* out) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
void Store32(std::uint32_t value, std::vector<std::uint8_t>* out) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A zstd frame never grows its content by more than this, plus a fixed head
// (zstd's compress bound is 1/256 plus 128 KiB of block heads at most).
std::uint64_t MaxBodyBytes(std::uint64_t stream_bytes) { return stream_bytes + stream_bytes / 128 + 4096; }

}  // namespace

std::uint64_t DeltaHeader::HeaderBytes() const {
  return kHeaderPrefixBytes + static_cast<std::uint64_t>(segments.size()) * kSegmentRecordBytes;
}

std::uint64_t DeltaHeader::PatchBytes() const { return SegmentPatchOffset(segments.size()); }

std::uint64_t DeltaHeader::SegmentPatchOffset(size_t segment) const {
  std::uint64_t offset = HeaderBytes();
  for (size_t i = 0; i < segment && i < segments.size(); ++i) offset += segments[i].body_bytes;
  return offset;
}

std::uint64_t DeltaHeader::SegmentOutputOffset(size_t segment) const {
  return static_cast<std::uint64_t>(segment) * segment_bytes;
}

std::uint64_t DeltaHeader::SegmentOutputBytes(size_t segment) const {
  const std::uint64_t start = SegmentOutputOffset(segment);
  if (start >= new_size) return 0;
  return new_size - start < segment_bytes ? new_size - start : segment_bytes;
}

std::uint64_t MaxStreamBytes(std::uint64_t output_bytes) { return 2 * output_bytes + 64; }

const char* ToString(DeltaFault fault) {
  switch (fault) {
    case DeltaFault::kNone: return "none";
    case DeltaFault::kBadMagic: return "not a delta patch";
    case DeltaFault::kBadVersion: return "unknown format version";
    case DeltaFault::kFlagsSet: return "unknown flags";
    case DeltaFault::kOutputTooLarge: return "claims a larger output than allowed";
    case DeltaFault::kOutputSizeMismatch: return "output size is not the expected one";
    case DeltaFault::kOldSizeMismatch: return "made against an old file of another size";
    case DeltaFault::kBadSegmentSize: return "segment size out of range";
    case DeltaFault::kBadSegmentCount: return "segment count does not match the output size";
    case DeltaFault::kTooManySegments: return "too many segments";
    case DeltaFault::kImplausibleSizes: return "segment sizes out of proportion";
    case DeltaFault::kTruncated: return "patch truncated";
    case DeltaFault::kTrailingBytes: return "bytes after the last segment";
    case DeltaFault::kFrameCorrupt: return "compressed frame corrupt";
    case DeltaFault::kFrameTooWide: return "compressed frame needs too large a window";
    case DeltaFault::kFrameOverruns: return "compressed frame decodes to more than declared";
    case DeltaFault::kFrameShort: return "compressed frame decodes to less than declared";
    case DeltaFault::kBodyBytesLeft: return "compressed frame ends before its segment's bytes";
    case DeltaFault::kBadOpTag: return "unknown operation";
    case DeltaFault::kEmptyOp: return "operation of no bytes";
    case DeltaFault::kBadVarint: return "malformed number";
    case DeltaFault::kOpOverrunsSegment: return "operations overrun the segment";
    case DeltaFault::kOpsEndEarly: return "operations end before the segment does";
    case DeltaFault::kCopyOutsideOld: return "copy outside the old file";
    case DeltaFault::kOldReadFailed: return "old file read failed";
    case DeltaFault::kBadResume: return "resume at a segment the patch lacks";
  }
  return "unknown fault";
}

DeltaFault ReadSegmentCount(const std::uint8_t* prefix, std::uint32_t* count) {
  if (std::memcmp(prefix, kMagic, sizeof kMagic) != 0) return DeltaFault::kBadMagic;
  if (Load32(prefix + 4) != kFormatVersion) return DeltaFault::kBadVersion;
  *count = Load32(prefix + 32);
  if (*count > kMaxSegments) return DeltaFault::kTooManySegments;
  return DeltaFault::kNone;
}

DeltaFault ParseHeader(const std::uint8_t* data, size_t size, const HeaderExpectations& expect,
                       DeltaHeader* header) {
  if (size < kHeaderPrefixBytes) return DeltaFault::kTruncated;
  std::uint32_t count = 0;
  if (const DeltaFault fault = ReadSegmentCount(data, &count); fault != DeltaFault::kNone) return fault;
  if (Load32(data + 36) != 0) return DeltaFault::kFlagsSet;
  if (size != kHeaderPrefixBytes + static_cast<std::uint64_t>(count) * kSegmentRecordBytes)
    return DeltaFault::kTruncated;
  DeltaHeader parsed;
  parsed.old_size = Load64(data + 8);
  parsed.new_size = Load64(data + 16);
  parsed.segment_bytes = Load64(data + 24);
  if (parsed.old_size != expect.old_size) return DeltaFault::kOldSizeMismatch;
  if (expect.exact_new_size && parsed.new_size != expect.new_size) return DeltaFault::kOutputSizeMismatch;
  if (!expect.exact_new_size && parsed.new_size > expect.max_new_size) return DeltaFault::kOutputTooLarge;
  if (parsed.new_size > kMaxFileBytes) return DeltaFault::kOutputTooLarge;
  if (parsed.segment_bytes < kMinSegmentBytes || parsed.segment_bytes > kMaxSegmentBytes)
    return DeltaFault::kBadSegmentSize;
  const std::uint64_t needed = (parsed.new_size + parsed.segment_bytes - 1) / parsed.segment_bytes;
  if (needed != count) return DeltaFault::kBadSegmentCount;
  parsed.segments.resize(count);
  const std::uint8_t* record = data + kHeaderPrefixBytes;
  for (std::uint32_t i = 0; i < count; ++i, record += kSegmentRecordBytes) {
    SegmentRecord& segment = parsed.segments[i];
    segment.body_bytes = Load64(record);
    segment.stream_bytes = Load64(record + 8);
    std::memcpy(segment.sha256.data(), record + 16, kSha256Bytes);
    const std::uint64_t output = parsed.SegmentOutputBytes(i);
    // Every operation head is at least 2 bytes and produces at least one.
    if (segment.stream_bytes < 2 || segment.stream_bytes > MaxStreamBytes(output) || segment.body_bytes == 0 ||
        segment.body_bytes > MaxBodyBytes(segment.stream_bytes))
      return DeltaFault::kImplausibleSizes;
  }
  *header = std::move(parsed);
  return DeltaFault::kNone;
}

std::vector<std::uint8_t> EncodeHeader(const DeltaHeader& header) {
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<size_t>(header.HeaderBytes()));
  out.insert(out.end(), kMagic, kMagic + sizeof kMagic);
  Store32(kFormatVersion, &out);
  Store64(header.old_size, &out);
  Store64(header.new_size, &out);
  Store64(header.segment_bytes, &out);
  Store32(static_cast<std::uint32_t>(header.segments.size()), &out);
  Store32(0, &out);
  for (const SegmentRecord& segment : header.segments) {
    Store64(segment.body_bytes, &out);
    Store64(segment.stream_bytes, &out);
    out.insert(out.end(), segment.sha256.begin(), segment.sha256.end());
  }
  return out;
}

void PutVarint(std::uint64_t value, std::vector<std::uint8_t>* out) {
  while (value >= 0x80) {
    out->push_back(static_cast<std::uint8_t>(value | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<std::uint8_t>(value));
}

bool GetVarint(const std::uint8_t** at, const std::uint8_t* end, std::uint64_t* value, bool* bad) {
  std::uint64_t result = 0;
  const std::uint8_t* p = *at;
  for (size_t i = 0; i < kMaxVarintBytes; ++i, ++p) {
    if (p == end) return false;
    const std::uint64_t bits = *p & 0x7F;
    // The tenth byte holds the top bit alone.
    if (i == kMaxVarintBytes - 1 && bits > 1) {
      *bad = true;
      return false;
    }
    result |= bits << (7 * i);
    if ((*p & 0x80) == 0) {
      *value = result;
      *at = p + 1;
      return true;
    }
  }
  *bad = true;
  return false;
}

}  // namespace codec::delta

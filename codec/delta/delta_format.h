#pragma once
// The delta patch format: a new file rebuilt from an old file it was made
// against, segment by segment.
//
//   header   "UPDT" (4)  version u32 = 1  old_size u64  new_size u64
//            segment_bytes u64  segment_count u32  flags u32 = 0      (40 bytes)
//   table    per segment: body_bytes u64  stream_bytes u64  sha256[32] (48 bytes)
//   bodies   per segment, in order: one zstd frame of body_bytes bytes that
//            decodes to stream_bytes bytes of operations
//
// All numbers little-endian. The new file is cut into segments of
// segment_bytes output each (the last one shorter); segment i produces
// new[i * segment_bytes, ...). Each segment has its own operations and the
// SHA-256 of its output, so an apply cut short resumes at a segment start and
// a segment that fails its hash can be fetched again alone (its bytes in the
// patch are at SegmentPatchOffset).
//
// Operations (decoded frame content), each producing at least one byte:
//   0x00 ADD   varint n, then n bytes of the new file
//   0x01 COPY  varint n, zigzag varint d: n bytes of the old file from
//              offset predicted + d
// `predicted` starts at the segment's output offset; a COPY sets it to the
// end of the range it copied, an ADD of n moves it n on. An unchanged file
// copies with d = 0; a block replaced by one of the same size, too.
// Varints are LEB128, at most 10 bytes, no value past 2^64 - 1.
//
// Which old bytes a segment copies is chosen by content (delta_make.h), not
// by position: data moved anywhere in the file is found.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec::delta {

inline constexpr std::uint8_t kMagic[4] = {'U', 'P', 'D', 'T'};
inline constexpr std::uint32_t kFormatVersion = 1;
inline constexpr size_t kHeaderPrefixBytes = 40;
inline constexpr size_t kSegmentRecordBytes = 48;
inline constexpr size_t kSha256Bytes = 32;

// Output per segment that the maker uses: the unit of resume and of fetching
// again; large enough that the table stays small (32 records for 2 GiB).
inline constexpr std::uint64_t kSegmentBytes = 64ull << 20;
// What an applier accepts of a patch: segments from 4 KiB (tests use small
// ones) to 1 GiB, at most 65,536 of them (a table of 3 MiB), files up to
// 2^62 bytes (offsets stay far from overflow in 64 bits).
inline constexpr std::uint64_t kMinSegmentBytes = 4ull << 10;
inline constexpr std::uint64_t kMaxSegmentBytes = 1ull << 30;
inline constexpr std::uint32_t kMaxSegments = 65536;
inline constexpr std::uint64_t kMaxFileBytes = 1ull << 62;
// The zstd window of a segment's frame, and so the decoder's memory: 8 MiB
// (zstd -19's own window). A frame asking for more is refused.
inline constexpr int kWindowLog = 23;

// Operation tags.
inline constexpr std::uint8_t kOpAdd = 0x00;
inline constexpr std::uint8_t kOpCopy = 0x01;
// The longest operation head: a tag and two 10-byte varints.
inline constexpr size_t kMaxOpHeadBytes = 21;
inline constexpr size_t kMaxVarintBytes = 10;

using SegmentDigest = std::array<std::uint8_t, kSha256Bytes>;

struct SegmentRecord {
  std::uint64_t body_bytes = 0;    // the zstd frame in the patch
  std::uint64_t stream_bytes = 0;  // its decoded operations
  SegmentDigest sha256{};          // of the segment's output
};

struct DeltaHeader {
  std::uint64_t old_size = 0;
  std::uint64_t new_size = 0;
  std::uint64_t segment_bytes = kSegmentBytes;
  std::vector<SegmentRecord> segments;

  // Bytes of header and table, where the first body starts.
  [[nodiscard]] std::uint64_t HeaderBytes() const;
  // The patch's size: header, table and every body.
  [[nodiscard]] std::uint64_t PatchBytes() const;
  // Where segment i's body starts in the patch.
  [[nodiscard]] std::uint64_t SegmentPatchOffset(size_t segment) const;
  // Where segment i's output starts in the new file, and its size.
  [[nodiscard]] std::uint64_t SegmentOutputOffset(size_t segment) const;
  [[nodiscard]] std::uint64_t SegmentOutputBytes(size_t segment) const;
};

// Why a patch is refused (the applier's and the header parser's verdicts).
enum class DeltaFault {
  kNone,
  kBadMagic,
  kBadVersion,
  kFlagsSet,             // a flag this applier does not know
  kOutputTooLarge,       // new_size is more than the caller allows
  kOutputSizeMismatch,   // new_size is not the size the caller expects
  kOldSizeMismatch,      // made against an old file of another size
  kBadSegmentSize,       // segment_bytes outside kMin..kMaxSegmentBytes
  kBadSegmentCount,      // not the count that new_size and segment_bytes give
  kTooManySegments,
  kImplausibleSizes,     // a body or stream size no maker produces for its output
  kTruncated,            // the patch ended before its last segment did
  kTrailingBytes,        // bytes after the last segment
  kFrameCorrupt,         // zstd refused the frame
  kFrameTooWide,         // the frame's window is larger than kWindowLog
  kFrameOverruns,        // the frame decodes to more than stream_bytes
  kFrameShort,           // the frame ended before stream_bytes were decoded
  kBodyBytesLeft,        // the frame ended before body_bytes were read
  kBadOpTag,
  kEmptyOp,              // an operation of no bytes (it could repeat forever)
  kBadVarint,            // longer than 10 bytes or past 2^64 - 1
  kOpOverrunsSegment,    // operations produce more than the segment's size
  kOpsEndEarly,          // the stream ended before the segment's output did
  kCopyOutsideOld,       // a copy before the old file's start or past its end
  kOldReadFailed,        // the caller's read of the old file failed
  kBadResume,            // a resume at a segment the patch does not have
};
[[nodiscard]] const char* ToString(DeltaFault fault);

// The header prefix's segment count, so that a reader knows how many table
// bytes follow (kHeaderPrefixBytes + count * kSegmentRecordBytes in all);
// a fault when the prefix is not one of ours or the count is too high.
[[nodiscard]] DeltaFault ReadSegmentCount(const std::uint8_t* prefix, std::uint32_t* count);

// What the applier's caller knows of the files: the old file's size, and the
// new file's size when known (from the list entry), else a ceiling.
struct HeaderExpectations {
  std::uint64_t old_size = 0;
  std::uint64_t new_size = 0;       // exact, when exact_new_size
  bool exact_new_size = false;
  std::uint64_t max_new_size = kMaxFileBytes;  // when not exact
};

// Parses header and table (`size` must be their full length) and checks
// every rule that needs no body: a fault names the first broken one.
[[nodiscard]] DeltaFault ParseHeader(const std::uint8_t* data, size_t size, const HeaderExpectations& expect,
                                     DeltaHeader* header);
// The header and table bytes of `header`.
[[nodiscard]] std::vector<std::uint8_t> EncodeHeader(const DeltaHeader& header);

// The most stream bytes a segment of `output_bytes` may declare: operations of
// a real patch cost far less than one byte of head per byte they produce.
[[nodiscard]] std::uint64_t MaxStreamBytes(std::uint64_t output_bytes);

// LEB128 varints and the zigzag map of signed offsets.
void PutVarint(std::uint64_t value, std::vector<std::uint8_t>* out);
// Reads a varint from [*at, end); false when it runs past end (nothing
// consumed) or is malformed (*bad set).
[[nodiscard]] bool GetVarint(const std::uint8_t** at, const std::uint8_t* end, std::uint64_t* value, bool* bad);
[[nodiscard]] inline std::uint64_t ZigZag(std::int64_t value) {
  return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}
[[nodiscard]] inline std::int64_t UnZigZag(std::uint64_t value) {
  return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

}  // namespace codec::delta

#pragma once
// Makes delta patches (delta_format.h): an index of the old file's blocks,
// then each segment of the new file encoded against it on its own, so that
// segments can be made in parallel (the caller's threads) and written in
// order.
//
// The index holds a hash of every block of the old file at block-aligned
// offsets; the new segment is searched with a rolling hash at every byte, so
// a block found anywhere in the old file is a copy, extended byte by byte
// both ways to the exact edges of the change. Bytes no copy covers are added,
// and a segment's operations are compressed with zstd. The index is lossy on
// purpose (a few slots per hash): a long run of equal data is found from any
// of its blocks.
//
// Memory: the old file (the caller's view of it, typically a mapping), the
// index (8 bytes a slot, one slot per block rounded up to a power of two:
// 256 MiB for 2 GiB at 64-byte blocks), and per segment being made its new
// bytes, its operations and the compressor's state.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/delta/delta_format.h"

namespace codec::delta {

// Index block size; old files past 256 GiB get larger blocks, so that block
// numbers fit 32 bits.
inline constexpr size_t kIndexBlockBytes = 64;
// Slots looked at per hash, on insertion and on search.
inline constexpr size_t kIndexProbes = 4;
// The compression level of the operations (zstd -19, window kWindowLog).
inline constexpr int kDefaultLevel = 19;

class BlockIndex {
 public:
  // Indexes `old` (which must outlive the index).
  BlockIndex(const std::uint8_t* old, std::uint64_t old_size);

  [[nodiscard]] const std::uint8_t* old() const { return old_; }
  [[nodiscard]] std::uint64_t old_size() const { return old_size_; }
  [[nodiscard]] size_t block_bytes() const { return block_bytes_; }
  // The index's own memory.
  [[nodiscard]] size_t memory_bytes() const { return slots_.size() * sizeof(Slot); }

  // The rolling hash of `block_bytes()` bytes at `data`, and its step one
  // byte on (`out` leaves the window, `in` enters it).
  [[nodiscard]] std::uint64_t Hash(const std::uint8_t* data) const;
  [[nodiscard]] std::uint64_t Roll(std::uint64_t hash, std::uint8_t out, std::uint8_t in) const {
    return hash * kPrime + in - out * out_factor_;
  }
  // Old offsets whose block may have this hash (up to kIndexProbes); the
  // count written.
  size_t Candidates(std::uint64_t hash, std::uint64_t* offsets) const;

 private:
  static constexpr std::uint64_t kPrime = 0x100000001B3ull;
  struct Slot {
    std::uint32_t block_plus_one = 0;  // 0: empty
    std::uint32_t fingerprint = 0;
  };

  const std::uint8_t* old_;
  std::uint64_t old_size_;
  size_t block_bytes_ = kIndexBlockBytes;
  std::uint64_t out_factor_ = 1;  // kPrime ^ block_bytes_
  int shift_ = 64;                // hash bits above it choose the slot
  std::vector<Slot> slots_;
};

// One segment's body and the size of its decoded operations.
struct SegmentPatch {
  std::vector<std::uint8_t> body;
  std::uint64_t stream_bytes = 0;
  std::uint64_t copied_bytes = 0;  // of its output, taken from the old file
};

// Encodes new bytes [data, data + size), which start at `output_offset` in the
// new file, against the indexed old file. False when the compressor fails.
[[nodiscard]] bool MakeSegment(const BlockIndex& index, const std::uint8_t* data, size_t size,
                               std::uint64_t output_offset, int level, SegmentPatch* patch);

// The SHA-256 of a segment's output: the caller's (this room hashes nothing).
using DigestFunction = SegmentDigest (*)(const std::uint8_t* data, size_t size);

// A whole patch in memory, segment after segment on this thread: for tests
// and small files.
[[nodiscard]] bool MakeDelta(const std::uint8_t* old, std::uint64_t old_size, const std::uint8_t* data,
                             std::uint64_t size, std::uint64_t segment_bytes, int level, DigestFunction digest,
                             std::vector<std::uint8_t>* patch);

}  // namespace codec::delta

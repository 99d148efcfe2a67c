#pragma once
// Shared by the delta tests: an old file in memory, a driver that pushes a
// patch through the applier in pieces of given sizes, and patches built by
// hand from operation streams.
#include <cstdint>
#include <vector>

#include "codec/delta/delta_apply.h"
#include "codec/delta/delta_format.h"

namespace deltatest {

using Bytes = std::vector<std::uint8_t>;

class MemoryOld : public codec::delta::OldFileReader {
 public:
  explicit MemoryOld(const Bytes& data) : data_(data) {}
  bool ReadAt(std::uint64_t offset, std::uint8_t* dest, size_t size) override;
  bool fail = false;

 private:
  const Bytes& data_;
};

struct Applied {
  codec::delta::DeltaFault fault = codec::delta::DeltaFault::kNone;
  Bytes output;
  size_t segments_done = 0;
  bool digests_match = true;  // every finished segment's output hashed to its record
};

// Pushes `patch` (from `patch_offset` on) through `applier` `in_piece` bytes
// at a time into an output buffer of `out_piece` bytes.
Applied Drive(codec::delta::DeltaApplier& applier, const Bytes& patch, size_t patch_offset, size_t in_piece,
              size_t out_piece);
// A fresh applier over `old` with the new size expected exactly.
Applied ApplyPatch(const Bytes& old, const Bytes& patch, std::uint64_t new_size, size_t in_piece = 4096,
                   size_t out_piece = 4096);

codec::delta::SegmentDigest Digest(const std::uint8_t* data, size_t size);
// A patch made by the maker at a quick level.
Bytes Make(const Bytes& old, const Bytes& target, std::uint64_t segment_bytes);

// Operation streams and patches by hand.
void PutAdd(Bytes* ops, const Bytes& bytes);
void PutCopy(Bytes* ops, std::uint64_t bytes, std::int64_t shift);
Bytes Compress(const Bytes& ops);
// One segment per entry of `ops`, its record sized after the compressed
// stream; digests are zero.
Bytes HandPatch(std::uint64_t old_size, std::uint64_t new_size, std::uint64_t segment_bytes,
                const std::vector<Bytes>& ops);

}  // namespace deltatest

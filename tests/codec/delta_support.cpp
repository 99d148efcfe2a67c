#include "tests/codec/delta_support.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>

#include "codec/delta/delta_make.h"
#include "trust/sha256.h"

namespace deltatest {

using namespace codec::delta;

bool MemoryOld::ReadAt(std::uint64_t offset, std::uint8_t* dest, size_t size) {
  if (fail || offset > data_.size() || size > data_.size() - offset) return false;
  std::memcpy(dest, data_.data() + offset, size);
  return true;
}

Applied Drive(DeltaApplier& applier, const Bytes& patch, size_t patch_offset, size_t in_piece, size_t out_piece) {
  Applied applied;
  Bytes out_buffer(out_piece);
  trust::Sha256 hasher;
  size_t fed = patch_offset;
  codec::InBuffer in{patch.data() + fed, 0, 0};
  // Bounded: every round either takes input, gives output or ends.
  for (size_t round = 0; round < 10 * (patch.size() + (1u << 26)); ++round) {
    codec::OutBuffer out{out_buffer.data(), out_buffer.size(), 0};
    const ApplyStep step = applier.Apply(in, out);
    applied.output.insert(applied.output.end(), out_buffer.begin(), out_buffer.begin() + out.pos);
    hasher.Update(out_buffer.data(), out.pos);
    if (step == ApplyStep::kFault) {
      applied.fault = applier.fault();
      return applied;
    }
    if (step == ApplyStep::kSegmentDone) {
      if (hasher.Final() != applier.header()->segments[applier.segment()].sha256) applied.digests_match = false;
      ++applied.segments_done;
    }
    if (step == ApplyStep::kNeedInput) {
      fed += in.pos;
      if (fed == patch.size()) {
        applied.fault = applier.Finish();
        return applied;
      }
      in = codec::InBuffer{patch.data() + fed, std::min(in_piece, patch.size() - fed), 0};
    }
  }
  applied.fault = applier.Finish();
  return applied;
}

Applied ApplyPatch(const Bytes& old, const Bytes& patch, std::uint64_t new_size, size_t in_piece,
                   size_t out_piece) {
  MemoryOld reader(old);
  HeaderExpectations expect;
  expect.old_size = old.size();
  expect.new_size = new_size;
  expect.exact_new_size = true;
  DeltaApplier applier(&reader, expect);
  return Drive(applier, patch, 0, in_piece, out_piece);
}

SegmentDigest Digest(const std::uint8_t* data, size_t size) { return trust::Sha256Of(data, size); }

Bytes Make(const Bytes& old, const Bytes& target, std::uint64_t segment_bytes) {
  Bytes patch;
  if (!MakeDelta(old.data(), old.size(), target.data(), target.size(), segment_bytes, 3, &Digest, &patch))
    patch.clear();
  return patch;
}

void PutAdd(Bytes* ops, const Bytes& bytes) {
  ops->push_back(kOpAdd);
  PutVarint(bytes.size(), ops);
  ops->insert(ops->end(), bytes.begin(), bytes.end());
}

void PutCopy(Bytes* ops, std::uint64_t bytes, std::int64_t shift) {
  ops->push_back(kOpCopy);
  PutVarint(bytes, ops);
  PutVarint(ZigZag(shift), ops);
}

Bytes Compress(const Bytes& ops) {
  Bytes body(ZSTD_compressBound(ops.size()));
  body.resize(ZSTD_compress(body.data(), body.size(), ops.data(), ops.size(), 3));
  return body;
}

Bytes HandPatch(std::uint64_t old_size, std::uint64_t new_size, std::uint64_t segment_bytes,
                const std::vector<Bytes>& ops) {
  DeltaHeader header;
  header.old_size = old_size;
  header.new_size = new_size;
  header.segment_bytes = segment_bytes;
  Bytes bodies;
  for (const Bytes& stream : ops) {
    const Bytes body = Compress(stream);
    SegmentRecord record;
    record.body_bytes = body.size();
    record.stream_bytes = stream.size();
    header.segments.push_back(record);
    bodies.insert(bodies.end(), body.begin(), body.end());
  }
  Bytes patch = EncodeHeader(header);
  patch.insert(patch.end(), bodies.begin(), bodies.end());
  return patch;
}

}  // namespace deltatest

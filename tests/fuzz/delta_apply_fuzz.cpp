// A delta patch applied against a fixed old file of 64 KiB: any input ends in
// a named fault or in exactly the output its header declares, never more
// than the ceiling the caller set, and in bounded work.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/delta/delta_apply.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace delta = codec::delta;

constexpr size_t kOldBytes = 64u << 10;
constexpr std::uint64_t kOutputCeiling = 1u << 20;
// Small pieces on both sides, so that every refill and drain path runs.
constexpr size_t kInPiece = 333;
constexpr size_t kOutPiece = 4096;

// The stored corpus was made against this same old file
// (byte i = (i * 2654435761 mod 2^32) >> 13, low 8 bits).
std::vector<std::uint8_t> OldFile() {
  std::vector<std::uint8_t> old(kOldBytes);
  for (size_t i = 0; i < kOldBytes; ++i)
    old[i] = static_cast<std::uint8_t>((static_cast<std::uint32_t>(i) * 2654435761u) >> 13);
  return old;
}

class Reader : public delta::OldFileReader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& old) : old_(old) {}
  bool ReadAt(std::uint64_t offset, std::uint8_t* dest, size_t size) override {
    FUZZ_CHECK(offset <= old_.size() && size <= old_.size() - offset);
    std::memcpy(dest, old_.data() + offset, size);
    return true;
  }

 private:
  const std::vector<std::uint8_t>& old_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::uint8_t> old = OldFile();
  Reader reader(old);
  delta::HeaderExpectations expect;
  expect.old_size = kOldBytes;
  expect.max_new_size = kOutputCeiling;
  delta::DeltaApplier applier(&reader, expect);
  std::vector<std::uint8_t> out_bytes(kOutPiece);
  std::uint64_t produced = 0;
  size_t fed = 0, segments_done = 0;
  codec::InBuffer in{data, 0, 0};
  // Each round takes input, gives output or ends: bounded by their sum.
  for (size_t round = 0; round < 4 * (size + kOutputCeiling) + 16; ++round) {
    codec::OutBuffer out{out_bytes.data(), out_bytes.size(), 0};
    const delta::ApplyStep step = applier.Apply(in, out);
    FUZZ_CHECK(out.pos <= out.size && in.pos <= in.size);
    produced += out.pos;
    FUZZ_CHECK(produced <= kOutputCeiling);
    if (applier.header() != nullptr) FUZZ_CHECK(produced <= applier.header()->new_size);
    if (step == delta::ApplyStep::kFault) {
      FUZZ_CHECK(applier.fault() != delta::DeltaFault::kNone);
      return 0;
    }
    if (step == delta::ApplyStep::kSegmentDone) {
      ++segments_done;
      FUZZ_CHECK(produced == applier.header()->SegmentOutputOffset(applier.segment()) +
                                 applier.header()->SegmentOutputBytes(applier.segment()));
    }
    if (step == delta::ApplyStep::kNeedInput) {
      fed += in.pos;
      if (fed == size) {
        if (applier.Finish() == delta::DeltaFault::kNone) {
          FUZZ_CHECK(produced == applier.header()->new_size);
          FUZZ_CHECK(segments_done == applier.header()->segments.size());
        }
        return 0;
      }
      in = codec::InBuffer{data + fed, size - fed < kInPiece ? size - fed : kInPiece, 0};
    }
  }
  FUZZ_CHECK(!"the apply did not end");
  return 0;
}

// Patches made by the maker rebuild their new file exactly, whatever was
// moved, inserted, deleted or appended, through buffers of any size, and
// from any segment on.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "codec/delta/delta_make.h"
#include "tests/codec/delta_support.h"

namespace {

using namespace codec::delta;
using deltatest::Bytes;

// Data that looks like a game archive: stretches of words (compressible) and
// stretches of noise (compressed content), so copies and adds both matter.
Bytes GameLike(std::mt19937& rng, size_t size) {
  static const char* const kWords[] = {"sword ", "shield ", "castle ", "dragon ", "potion ", "\x01\x02\x03\x04",
                                       "map_0042 ", "texture ", "\0\0\0\0\0\0\0\0"};
  Bytes data;
  data.reserve(size);
  while (data.size() < size) {
    if (rng() % 3 == 0) {
      for (size_t i = rng() % 2000; i > 0 && data.size() < size; --i) data.push_back(static_cast<std::uint8_t>(rng()));
    } else {
      for (size_t i = rng() % 300; i > 0 && data.size() < size; --i) {
        const char* word = kWords[rng() % 9];
        const size_t length = word[0] == 0 ? 8 : std::char_traits<char>::length(word);
        for (size_t k = 0; k < length && data.size() < size; ++k) data.push_back(static_cast<std::uint8_t>(word[k]));
      }
    }
  }
  return data;
}

Bytes Slice(const Bytes& data, size_t from, size_t size) {
  return Bytes(data.begin() + from, data.begin() + from + size);
}

// One edit of the new file, at positions drawn from `rng`.
Bytes Edit(std::mt19937& rng, const Bytes& data, int kind) {
  const size_t size = data.size();
  const size_t piece = size == 0 ? 0 : 1 + rng() % std::max<size_t>(1, size / 4);
  const size_t at = size == 0 ? 0 : rng() % (size - std::min(piece, size) + 1);
  Bytes out = data;
  switch (kind) {
    case 0: {  // move a block later or earlier
      const Bytes block = Slice(data, at, std::min(piece, size - at));
      out.erase(out.begin() + at, out.begin() + at + block.size());
      const size_t to = out.empty() ? 0 : rng() % (out.size() + 1);
      out.insert(out.begin() + to, block.begin(), block.end());
      break;
    }
    case 1: {  // insert new bytes
      const Bytes fresh = GameLike(rng, 1 + rng() % 5000);
      out.insert(out.begin() + at, fresh.begin(), fresh.end());
      break;
    }
    case 2:  // delete
      out.erase(out.begin() + at, out.begin() + at + std::min(piece, size - at));
      break;
    case 3: {  // append
      const Bytes fresh = GameLike(rng, 1 + rng() % 20000);
      out.insert(out.end(), fresh.begin(), fresh.end());
      break;
    }
    default: {  // overwrite scattered small blocks
      for (int i = 0; i < 5 && !out.empty(); ++i) {
        const size_t spot = rng() % out.size();
        for (size_t k = spot; k < std::min(out.size(), spot + 100); ++k) out[k] = static_cast<std::uint8_t>(rng());
      }
    }
  }
  return out;
}

void ExpectRoundTrip(const Bytes& old, const Bytes& target, std::uint64_t segment_bytes, size_t in_piece,
                     size_t out_piece) {
  const Bytes patch = deltatest::Make(old, target, segment_bytes);
  ASSERT_FALSE(patch.empty());
  const deltatest::Applied applied = deltatest::ApplyPatch(old, patch, target.size(), in_piece, out_piece);
  ASSERT_EQ(applied.fault, DeltaFault::kNone) << ToString(applied.fault);
  EXPECT_TRUE(applied.output == target);
  EXPECT_TRUE(applied.digests_match);
  EXPECT_EQ(applied.segments_done, (target.size() + segment_bytes - 1) / segment_bytes);
}

TEST(DeltaRoundTrip, EdgeShapes) {
  std::mt19937 rng(528);
  const Bytes base = GameLike(rng, 50000);
  const struct {
    const char* name;
    Bytes old;
    Bytes target;
  } cases[] = {
      {"both empty", {}, {}},
      {"empty old", {}, base},
      {"empty new", base, {}},
      {"same", base, base},
      {"one byte new", base, Bytes{7}},
      {"old shorter than a block", Slice(base, 0, 40), base},
      {"new shorter than a block", base, Slice(base, 100, 40)},
      {"exactly one segment", base, Slice(base, 0, 4096)},
      {"one byte past a segment", base, Slice(base, 0, 4097)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRoundTrip(c.old, c.target, kMinSegmentBytes, 1000, 777);
  }
}

// Random edits of random data, pushed through in random piece sizes.
TEST(DeltaRoundTrip, RandomEditsProperty) {
  std::mt19937 rng(2026);
  for (int trial = 0; trial < 60; ++trial) {
    SCOPED_TRACE(trial);
    const Bytes old = GameLike(rng, rng() % 3 == 0 ? rng() % 3000 : 10000 + rng() % 100000);
    Bytes target = old;
    for (int edits = 1 + rng() % 4; edits > 0; --edits) target = Edit(rng, target, static_cast<int>(rng() % 5));
    const std::uint64_t segment_bytes = rng() % 2 ? kMinSegmentBytes : 4 * kMinSegmentBytes;
    ExpectRoundTrip(old, target, segment_bytes, 1 + rng() % 5000, 1 + rng() % 9000);
  }
}

// Data moved far is found by content: the patch is operations, not bytes.
TEST(DeltaRoundTrip, MovedBlockCostsAlmostNothing) {
  std::mt19937 rng(7);
  Bytes old(2u << 20);
  for (auto& byte : old) byte = static_cast<std::uint8_t>(rng());
  Bytes target = old;
  const Bytes block = Slice(old, 100000, 256u << 10);
  target.erase(target.begin() + 100000, target.begin() + 100000 + block.size());
  target.insert(target.begin() + 1500000, block.begin(), block.end());
  const Bytes patch = deltatest::Make(old, target, 64u << 10);
  EXPECT_LT(patch.size(), 4000u);
  const deltatest::Applied applied = deltatest::ApplyPatch(old, patch, target.size(), 1u << 16, 1u << 20);
  EXPECT_EQ(applied.fault, DeltaFault::kNone);
  EXPECT_TRUE(applied.output == target);
}

// A cut apply goes on at any segment's start: header, then that segment's
// body, and the output from that segment's offset on.
TEST(DeltaRoundTrip, ResumesAtEverySegment) {
  std::mt19937 rng(99);
  const Bytes old = GameLike(rng, 40000);
  Bytes target = Edit(rng, Edit(rng, old, 1), 0);
  const Bytes patch = deltatest::Make(old, target, kMinSegmentBytes);
  deltatest::MemoryOld reader(old);
  HeaderExpectations expect;
  expect.old_size = old.size();
  expect.max_new_size = target.size();
  const size_t segments = (target.size() + kMinSegmentBytes - 1) / kMinSegmentBytes;
  for (size_t k = 0; k <= segments; ++k) {
    SCOPED_TRACE(k);
    DeltaApplier applier(&reader, expect);
    DeltaHeader header;
    ASSERT_EQ(ParseHeader(patch.data(), 40 + 48 * segments, expect, &header), DeltaFault::kNone);
    const deltatest::Bytes head(patch.begin(), patch.begin() + static_cast<std::ptrdiff_t>(header.HeaderBytes()));
    codec::InBuffer in{head.data(), head.size(), 0};
    codec::OutBuffer none{nullptr, 0, 0};
    ASSERT_EQ(applier.Apply(in, none), ApplyStep::kNeedInput);
    if (k == segments) {
      EXPECT_EQ(applier.ResumeAt(k), DeltaFault::kBadResume);
      continue;
    }
    ASSERT_EQ(applier.ResumeAt(k), DeltaFault::kNone);
    const deltatest::Applied applied =
        deltatest::Drive(applier, patch, static_cast<size_t>(header.SegmentPatchOffset(k)), 333, 555);
    EXPECT_EQ(applied.fault, DeltaFault::kNone);
    EXPECT_TRUE(applied.output == Slice(target, static_cast<size_t>(header.SegmentOutputOffset(k)),
                                        target.size() - static_cast<size_t>(header.SegmentOutputOffset(k))));
    EXPECT_TRUE(applied.digests_match);
  }
}

}  // namespace

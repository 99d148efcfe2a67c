// The delta format's rules as the applier enforces them: refusals first,
// each named, then what a well-formed patch gives.
#include <gtest/gtest.h>

#include <zstd.h>

#include <cstring>
#include <functional>

#include "codec/delta/delta_format.h"
#include "tests/codec/delta_support.h"

namespace {

using namespace codec::delta;
using deltatest::Bytes;
using deltatest::PutAdd;
using deltatest::PutCopy;

constexpr std::uint64_t kSeg = kMinSegmentBytes;

Bytes Old() {
  Bytes old(10000);
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return old;
}

Bytes Ops(const std::function<void(Bytes*)>& fill) {
  Bytes ops;
  fill(&ops);
  return ops;
}

// A zstd frame whose window is 2^window_log (its content is that large).
Bytes WideFrame(const Bytes& content, int window_log) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, window_log);
  ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0);
  Bytes frame(ZSTD_compressBound(content.size()) + 64);
  ZSTD_outBuffer out{frame.data(), frame.size(), 0};
  ZSTD_inBuffer in{content.data(), content.size(), 0};
  ZSTD_compressStream2(context, &out, &in, ZSTD_e_end);
  ZSTD_freeCCtx(context);
  frame.resize(out.pos);
  return frame;
}

// A one-segment patch of `new_size` whose single body is `body` declaring
// `stream_bytes`.
Bytes WithBody(std::uint64_t new_size, const Bytes& body, std::uint64_t stream_bytes) {
  DeltaHeader header;
  header.old_size = Old().size();
  header.new_size = new_size;
  header.segment_bytes = kSeg;
  header.segments.push_back({body.size(), stream_bytes, {}});
  Bytes patch = EncodeHeader(header);
  patch.insert(patch.end(), body.begin(), body.end());
  return patch;
}

TEST(DeltaFormat, HostilePatchesAreRefusedByName) {
  const Bytes old = Old();
  const Bytes ten = Ops([](Bytes* o) { PutAdd(o, Bytes(10, 'x')); });
  const Bytes good = deltatest::HandPatch(old.size(), 10, kSeg, {ten});
  auto edited = [&](size_t at, std::uint64_t value, int width) {
    Bytes patch = good;
    for (int i = 0; i < width; ++i) patch[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return patch;
  };
  Bytes zeros(64u << 20);
  const Bytes bomb = deltatest::Compress(zeros);
  zeros = Bytes();
  const Bytes padded_body = [&] {
    Bytes body = deltatest::Compress(ten);
    body.push_back(0);
    return body;
  }();
  const Bytes frame_of_ten = deltatest::Compress(ten);
  const struct {
    const char* name;
    Bytes patch;
    std::uint64_t new_size;
    DeltaFault fault;
  } cases[] = {
      {"empty input", {}, 10, DeltaFault::kTruncated},
      {"not ours", edited(0, 'X', 1), 10, DeltaFault::kBadMagic},
      {"newer version", edited(4, 2, 4), 10, DeltaFault::kBadVersion},
      {"unknown flag", edited(36, 1, 4), 10, DeltaFault::kFlagsSet},
      {"made against another old size", edited(8, old.size() + 1, 8), 10, DeltaFault::kOldSizeMismatch},
      {"claims a huge output", edited(16, 1ull << 40, 8), 10, DeltaFault::kOutputSizeMismatch},
      {"segment size below the floor", edited(24, 100, 8), 10, DeltaFault::kBadSegmentSize},
      {"segment size past the ceiling", edited(24, 1ull << 40, 8), 10, DeltaFault::kBadSegmentSize},
      {"count not the output's", edited(32, 0, 4), 10, DeltaFault::kBadSegmentCount},
      {"table of millions", edited(32, 5000000, 4), 10, DeltaFault::kTooManySegments},
      {"stream out of proportion", edited(48, 1ull << 30, 8), 10, DeltaFault::kImplausibleSizes},
      {"body of no bytes", edited(40, 0, 8), 10, DeltaFault::kImplausibleSizes},
      {"truncated in the table", Bytes(good.begin(), good.begin() + 60), 10, DeltaFault::kTruncated},
      {"truncated in the body", Bytes(good.begin(), good.end() - 3), 10, DeltaFault::kTruncated},
      {"trailing garbage", [&] { Bytes p = good; p.push_back(0); return p; }(), 10, DeltaFault::kTrailingBytes},
      {"copy past the old end",
       deltatest::HandPatch(old.size(), 10, kSeg, {Ops([&](Bytes* o) { PutCopy(o, 10, old.size() - 5); })}), 10,
       DeltaFault::kCopyOutsideOld},
      {"copy before the old start",
       deltatest::HandPatch(old.size(), 10, kSeg, {Ops([](Bytes* o) { PutCopy(o, 10, -1); })}), 10,
       DeltaFault::kCopyOutsideOld},
      {"copy at the lowest offset",
       deltatest::HandPatch(old.size(), 10, kSeg, {Ops([](Bytes* o) { PutCopy(o, 10, INT64_MIN); })}), 10,
       DeltaFault::kCopyOutsideOld},
      {"operation of no bytes, over and over",
       deltatest::HandPatch(old.size(), 10, kSeg, {Ops([](Bytes* o) { for (int i = 0; i < 5; ++i) PutAdd(o, {}); })}),
       10, DeltaFault::kEmptyOp},
      {"unknown operation", deltatest::HandPatch(old.size(), 10, kSeg, {Bytes{7, 10, 0}}), 10,
       DeltaFault::kBadOpTag},
      {"number of eleven bytes", deltatest::HandPatch(old.size(), 10, kSeg, {Bytes{1, 0x80, 0x80, 0x80, 0x80, 0x80,
                                                                                  0x80, 0x80, 0x80, 0x80, 0x80, 1}}),
       10, DeltaFault::kBadVarint},
      {"add past the segment", deltatest::HandPatch(old.size(), 5, kSeg, {ten}), 5, DeltaFault::kOpOverrunsSegment},
      {"operations after the output is done",
       deltatest::HandPatch(old.size(), 10, kSeg, {Ops([](Bytes* o) { PutAdd(o, Bytes(10, 'x')); PutCopy(o, 1, 0); })}),
       10, DeltaFault::kOpOverrunsSegment},
      {"operations end early", deltatest::HandPatch(old.size(), 12, kSeg, {ten}), 12, DeltaFault::kOpsEndEarly},
      {"add cut inside its bytes",
       deltatest::HandPatch(old.size(), 10, kSeg, {Bytes(ten.begin(), ten.end() - 4)}), 10, DeltaFault::kOpsEndEarly},
      {"frame that expands without end", WithBody(10, bomb, ten.size()), 10, DeltaFault::kFrameOverruns},
      {"frame shorter than declared", WithBody(10, frame_of_ten, ten.size() + 5), 10, DeltaFault::kFrameShort},
      {"bytes after the frame in its body", WithBody(10, padded_body, ten.size()), 10, DeltaFault::kBodyBytesLeft},
      {"frame of noise", WithBody(10, Bytes(20, 0x55), ten.size()), 10, DeltaFault::kFrameCorrupt},
      {"frame wider than the window", WithBody(10, WideFrame(Bytes((1u << kWindowLog) + 1, 0), kWindowLog + 1), ten.size()), 10,
       DeltaFault::kFrameTooWide},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const size_t piece : {size_t{1}, size_t{1u << 20}}) {
      const deltatest::Applied applied = deltatest::ApplyPatch(old, c.patch, c.new_size, piece, 3);
      EXPECT_EQ(applied.fault, c.fault) << ToString(applied.fault);
      EXPECT_LE(applied.output.size(), c.new_size);
    }
  }
}

TEST(DeltaFormat, OutputCeilingAndFailedReads) {
  const Bytes old = Old();
  const Bytes patch =
      deltatest::HandPatch(old.size(), 10, kSeg, {Ops([](Bytes* o) { PutCopy(o, 10, 0); })});
  deltatest::MemoryOld reader(old);
  HeaderExpectations ceiling;
  ceiling.old_size = old.size();
  ceiling.max_new_size = 9;
  DeltaApplier too_small(&reader, ceiling);
  EXPECT_EQ(deltatest::Drive(too_small, patch, 0, 100, 100).fault, DeltaFault::kOutputTooLarge);

  ceiling.max_new_size = 10;
  reader.fail = true;
  DeltaApplier failing(&reader, ceiling);
  EXPECT_EQ(deltatest::Drive(failing, patch, 0, 100, 100).fault, DeltaFault::kOldReadFailed);
}

// Without the list's size, only the ceiling stands between a header's claim
// and the disk: the default one refuses what no file can be.
TEST(DeltaFormat, HugeOutputClaimsWithoutAnExactSize) {
  const struct {
    const char* name;
    std::uint64_t new_size;
    std::uint64_t segment_bytes;
    std::uint64_t ceiling;
    DeltaFault fault;
  } cases[] = {
      {"past any file", kMaxFileBytes + 1, kMaxSegmentBytes, kMaxFileBytes, DeltaFault::kOutputTooLarge},
      {"all 64 bits", UINT64_MAX, kMaxSegmentBytes, kMaxFileBytes, DeltaFault::kOutputTooLarge},
      {"past the caller's ceiling", (1ull << 40) + 1, kMaxSegmentBytes, 1ull << 40, DeltaFault::kOutputTooLarge},
      {"the largest file in small segments", kMaxFileBytes, kSeg, kMaxFileBytes, DeltaFault::kBadSegmentCount},
  };
  const Bytes old = Old();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeltaHeader claim;
    claim.old_size = old.size();
    claim.new_size = c.new_size;
    claim.segment_bytes = c.segment_bytes;
    claim.segments.resize(4);
    const Bytes bytes = EncodeHeader(claim);
    HeaderExpectations expect;
    expect.old_size = old.size();
    expect.max_new_size = c.ceiling;
    DeltaHeader parsed;
    EXPECT_EQ(ParseHeader(bytes.data(), bytes.size(), expect, &parsed), c.fault);
    deltatest::MemoryOld reader(old);
    DeltaApplier applier(&reader, expect);
    const deltatest::Applied applied = deltatest::Drive(applier, bytes, 0, 4096, 4096);
    EXPECT_EQ(applied.fault, c.fault);
    EXPECT_TRUE(applied.output.empty());
  }
}

TEST(DeltaFormat, OperationsRebuildTheirOutput) {
  const Bytes old = Old();
  // Segment 0: copy old[0..5000), add 3 bytes, continue the copy past them
  // (d = 0 reads old[5003..]); segment 1 (from 4096 on... here the second
  // segment starts at kSeg) copies backwards relative to its offset.
  Bytes seg0 = Ops([](Bytes* o) {
    PutCopy(o, 4000, 0);
    PutAdd(o, {'a', 'b', 'c'});
    PutCopy(o, kSeg - 4003, 0);
  });
  Bytes seg1 = Ops([](Bytes* o) { PutCopy(o, 100, -static_cast<std::int64_t>(kSeg)); });
  const Bytes patch = deltatest::HandPatch(old.size(), kSeg + 100, kSeg, {seg0, seg1});
  const deltatest::Applied applied = deltatest::ApplyPatch(old, patch, kSeg + 100, 7, 1000);
  ASSERT_EQ(applied.fault, DeltaFault::kNone) << ToString(applied.fault);
  Bytes expected(old.begin(), old.begin() + 4000);
  expected.insert(expected.end(), {'a', 'b', 'c'});
  expected.insert(expected.end(), old.begin() + 4003, old.begin() + kSeg);
  expected.insert(expected.end(), old.begin(), old.begin() + 100);
  EXPECT_TRUE(applied.output == expected);
  EXPECT_EQ(applied.segments_done, 2u);
}

TEST(DeltaFormat, VarintsAtTheirEdges) {
  for (const std::uint64_t value : {std::uint64_t{0}, std::uint64_t{127}, std::uint64_t{128}, ~std::uint64_t{0}}) {
    Bytes bytes;
    PutVarint(value, &bytes);
    const std::uint8_t* at = bytes.data();
    std::uint64_t read = 1;
    bool bad = false;
    EXPECT_TRUE(GetVarint(&at, bytes.data() + bytes.size(), &read, &bad));
    EXPECT_EQ(read, value);
    EXPECT_EQ(at, bytes.data() + bytes.size());
  }
  const Bytes too_big = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02};
  const std::uint8_t* at = too_big.data();
  std::uint64_t read = 0;
  bool bad = false;
  EXPECT_FALSE(GetVarint(&at, too_big.data() + too_big.size(), &read, &bad));
  EXPECT_TRUE(bad);
  for (const std::int64_t value : {std::int64_t{0}, std::int64_t{-1}, INT64_MIN, INT64_MAX})
    EXPECT_EQ(UnZigZag(ZigZag(value)), value);
}

}  // namespace

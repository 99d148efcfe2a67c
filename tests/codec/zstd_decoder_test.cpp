// The bounded zstd decoder: every refusal of a hostile or broken frame, then
// good frames fed through buffers of every size.
#include <gtest/gtest.h>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <string>
#include <vector>

#include "codec/zstd_decoder.h"

using codec::ZstdDecoder;
using codec::ZstdFault;

namespace {

using Bytes = std::string;

// A frame of `content`. `declared`: the header carries the content size;
// otherwise the size is unknown to the frame (fed in two pieces).
Bytes Compress(const Bytes& content, bool declared = true, int window_log = 0) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, declared ? 1 : 0);
  if (window_log != 0) ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, window_log);
  Bytes frame(ZSTD_compressBound(content.size()) + 64, '\0');
  ZSTD_outBuffer out{frame.data(), frame.size(), 0};
  ZSTD_inBuffer in{content.data(), content.size() / 2, 0};
  if (!declared) ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue);
  in.size = content.size();
  while (ZSTD_compressStream2(context, &out, &in, ZSTD_e_end) != 0) {
  }
  ZSTD_freeCCtx(context);
  frame.resize(out.pos);
  return frame;
}

// Text that compresses, of `size` bytes.
Bytes Sample(size_t size) {
  Bytes text;
  for (size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i % 977) + " of the sample\n";
  text.resize(size);
  return text;
}

struct Outcome {
  ZstdFault fault;
  Bytes output;
};

// Feeds `frame` `in_step` bytes at a time into `out_step` bytes of room,
// then finishes: the first fault, or Finish's verdict.
Outcome Decode(const Bytes& frame, int64_t expected, size_t in_step, size_t out_step) {
  ZstdDecoder decoder(expected);
  Outcome outcome{ZstdFault::kNone, {}};
  std::vector<std::uint8_t> room(out_step);
  size_t offset = 0;
  // Each round moves at least one byte in or out, or ends.
  for (size_t rounds = 0; rounds < 4 * (frame.size() + static_cast<size_t>(expected)) + 16; ++rounds) {
    codec::InBuffer in{reinterpret_cast<const std::uint8_t*>(frame.data()) + offset,
                       std::min(in_step, frame.size() - offset), 0};
    codec::OutBuffer out{room.data(), room.size(), 0};
    const ZstdFault fault = decoder.Decode(&in, &out);
    offset += in.pos;
    outcome.output.append(reinterpret_cast<const char*>(room.data()), out.pos);
    if (fault != ZstdFault::kNone) {
      outcome.fault = fault;
      return outcome;
    }
    if (offset == frame.size() && out.pos == 0 && in.pos == 0) break;
  }
  outcome.fault = decoder.Finish();
  return outcome;
}

// A frame header alone: single segment, 8-byte content size `declared`.
Bytes HeaderDeclaring(uint64_t declared) {
  Bytes header = "\x28\xb5\x2f\xfd\xe0";
  for (int i = 0; i < 8; ++i) header += static_cast<char>(declared >> (8 * i) & 0xFF);
  return header;
}

const Bytes kText = Sample(300000);
const Bytes kFrame = Compress(kText);

}  // namespace

TEST(ZstdDecoder, RefusesEveryBrokenFrame) {
  Bytes corrupt = kFrame;
  corrupt[corrupt.size() / 2] ^= 0x20;
  const Bytes skippable = Bytes("\x50\x2a\x4d\x18\x03\x00\x00\x00", 8) + "abc";
  // 64 MiB of zeros in a few KiB: a decoder that trusted the frame would
  // write all of it.
  const Bytes bomb = Compress(Bytes(64u << 20, '\0'), false);
  struct Case {
    const char* what;
    Bytes frame;
    int64_t expected;
    ZstdFault fault;
  };
  const Case cases[] = {
      {"no frame at all", "plain text, not zstd", 20, ZstdFault::kNotAFrame},
      {"a skippable frame", skippable, 3, ZstdFault::kNotAFrame},
      {"a declared size above the file's", kFrame, static_cast<int64_t>(kText.size()) - 1, ZstdFault::kContentSize},
      {"a declared size below the file's", kFrame, static_cast<int64_t>(kText.size()) + 1, ZstdFault::kContentSize},
      {"a huge declared size", HeaderDeclaring(1ULL << 40), 1000, ZstdFault::kContentSize},
      {"a huge size as the window", HeaderDeclaring(1ULL << 40), int64_t{1} << 40, ZstdFault::kWindowTooLarge},
      {"a window past the limit", Compress(kText, false, codec::kMaxZstdWindowLog + 1),
       static_cast<int64_t>(kText.size()), ZstdFault::kWindowTooLarge},
      {"more output than the size, undeclared", Compress(kText, false), 1000, ZstdFault::kTooLong},
      {"a frame expanding without end, undeclared", bomb, 1 << 20, ZstdFault::kTooLong},
      {"less output than the size, undeclared", Compress(kText, false), static_cast<int64_t>(kText.size()) + 1,
       ZstdFault::kTooShort},
      {"an empty file where bytes are due", Compress("", false), 1, ZstdFault::kTooShort},
      {"a flipped byte", corrupt, static_cast<int64_t>(kText.size()), ZstdFault::kCorrupt},
      {"a byte after the frame", kFrame + "x", static_cast<int64_t>(kText.size()), ZstdFault::kTrailingData},
      {"a second frame", kFrame + kFrame, static_cast<int64_t>(kText.size()), ZstdFault::kTrailingData},
      {"the last byte missing", kFrame.substr(0, kFrame.size() - 1), static_cast<int64_t>(kText.size()),
       ZstdFault::kTruncated},
      {"the header cut", kFrame.substr(0, 3), static_cast<int64_t>(kText.size()), ZstdFault::kTruncated},
      {"no byte at all", "", 0, ZstdFault::kTruncated},
  };
  for (const Case& c : cases) {
    for (size_t step : {size_t{1}, size_t{4093}, size_t{1} << 20}) {
      if (step == 1 && c.frame.size() > 100000) continue;  // the big frames byte by byte take long
      const Outcome outcome = Decode(c.frame, c.expected, step, step);
      EXPECT_EQ(outcome.fault, c.fault) << c.what << ", step " << step << ": " << ToString(outcome.fault);
      EXPECT_LE(static_cast<int64_t>(outcome.output.size()), std::max<int64_t>(c.expected, 0)) << c.what;
    }
  }
}

TEST(ZstdDecoder, ProducesTheFileThroughBuffersOfAnySize) {
  const Bytes small = Sample(5000);
  struct Case {
    const char* what;
    Bytes content;
    Bytes frame;
    size_t in_step, out_step;
  };
  const Case cases[] = {
      {"an empty file", "", Compress(""), 1, 1},
      {"an empty file, undeclared", "", Compress("", false), 64, 64},
      {"byte by byte", small, Compress(small), 1, 1},
      {"undeclared, odd steps", small, Compress(small, false), 7, 13},
      {"a large file, big steps", kText, kFrame, 1 << 16, 1 << 17},
      {"a large file, small room", kText, kFrame, 1 << 20, 100},
      {"a large file, exact room", kText, kFrame, kFrame.size(), kText.size()},
  };
  for (const Case& c : cases) {
    const Outcome outcome = Decode(c.frame, static_cast<int64_t>(c.content.size()), c.in_step, c.out_step);
    EXPECT_EQ(outcome.fault, ZstdFault::kNone) << c.what << ": " << ToString(outcome.fault);
    EXPECT_TRUE(outcome.output == c.content) << c.what;
  }
}

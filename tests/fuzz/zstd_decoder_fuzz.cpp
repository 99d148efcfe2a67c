// The bounded zstd decoder fed the same frame whole and in pieces: both ways
// accept or refuse alike, an accepted frame gives the same bytes of exactly
// the expected size, and no way ever writes past the expected size or the
// room it was given.
// Input: a byte for the input piece size, one for the output room, three for
// the expected size (below 1 MiB), then the frame.
#include <cstdint>
#include <vector>

#include "codec/zstd_decoder.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr std::size_t kHead = 5;
constexpr std::int64_t kMaxExpected = 1 << 20;

struct Run {
  codec::ZstdFault fault;
  std::vector<std::uint8_t> out;
};

Run Decode(const std::uint8_t* frame, std::size_t size, std::int64_t expected, std::size_t in_piece,
           std::size_t room) {
  codec::ZstdDecoder decoder(expected);
  Run run{codec::ZstdFault::kNone, {}};
  std::vector<std::uint8_t> buffer(room);
  std::size_t at = 0;
  // Each round moves a byte in or out or stops: bounded by input and output.
  for (std::size_t round = 0; round < size + static_cast<std::size_t>(expected) + 8; ++round) {
    const std::size_t piece = size - at < in_piece ? size - at : in_piece;
    codec::InBuffer in{frame + at, piece, 0};
    codec::OutBuffer out{buffer.data(), buffer.size(), 0};
    const codec::ZstdFault fault = decoder.Decode(&in, &out);
    FUZZ_CHECK(in.pos <= piece);
    FUZZ_CHECK(out.pos <= room);
    at += in.pos;
    run.out.insert(run.out.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(out.pos));
    FUZZ_CHECK(static_cast<std::int64_t>(run.out.size()) <= expected);
    FUZZ_CHECK(decoder.produced() == static_cast<std::int64_t>(run.out.size()));
    if (fault != codec::ZstdFault::kNone) {
      run.fault = fault;
      FUZZ_CHECK(decoder.Finish() == fault);  // a fault is final
      return run;
    }
    if (in.pos == 0 && out.pos == 0 && at == size) break;
  }
  run.fault = decoder.Finish();
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHead) return 0;
  const std::size_t in_piece = 1 + data[0] % 97;
  const std::size_t room = 1 + data[1] % 211;
  const std::int64_t expected = (data[2] | data[3] << 8 | data[4] << 16) % kMaxExpected;
  const std::uint8_t* frame = data + kHead;
  const std::size_t frame_size = size - kHead;

  const Run whole = Decode(frame, frame_size, expected, frame_size + 1, static_cast<std::size_t>(expected) + 1);
  const Run pieces = Decode(frame, frame_size, expected, in_piece, room);
  FUZZ_CHECK((whole.fault == codec::ZstdFault::kNone) == (pieces.fault == codec::ZstdFault::kNone));
  if (whole.fault == codec::ZstdFault::kNone) {
    FUZZ_CHECK(static_cast<std::int64_t>(whole.out.size()) == expected);
    FUZZ_CHECK(whole.out == pieces.out);
  }
  return 0;
}

// The chunked decoder fed the same bytes whole and in pieces: both ways give
// the same body and the same end state (body and trailer), and never more
// bytes than came in.
// Input: one byte choosing the piece size, then the coded body.
#include <cstdint>

#include "net/chunked_decoder.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::uint8_t* coded = data + 1;
  const std::size_t coded_size = size - 1;

  net::ChunkedDecoder whole;
  rt::Bytes whole_out;
  const std::size_t whole_used = whole.Feed(coded, coded_size, whole_out);
  FUZZ_CHECK(whole_used <= coded_size);
  FUZZ_CHECK(whole_out.size() <= whole_used);
  FUZZ_CHECK(!(whole.Finished() && whole.Failed()));
  if (whole_used < coded_size) FUZZ_CHECK(whole.Finished() || whole.Failed());

  net::ChunkedDecoder pieces;
  rt::Bytes pieces_out;
  std::size_t used = 0;
  for (std::size_t at = 0; at < coded_size; at += piece) {
    const std::size_t n = coded_size - at < piece ? coded_size - at : piece;
    const std::size_t took = pieces.Feed(coded + at, n, pieces_out);
    FUZZ_CHECK(took <= n);
    used += took;
    if (took < n) break;
  }
  FUZZ_CHECK(pieces.Finished() == whole.Finished());
  FUZZ_CHECK(pieces.Failed() == whole.Failed());
  // The message ends (its trailer read) only after its last chunk.
  FUZZ_CHECK(pieces.MessageEnded() == whole.MessageEnded());
  if (whole.MessageEnded()) FUZZ_CHECK(whole.Finished());
  FUZZ_CHECK(pieces_out == whole_out);
  if (whole.Finished()) FUZZ_CHECK(used == whole_used);
  return 0;
}

#pragma once
// Streaming decoder of the chunked transfer coding (RFC 9112 section 7.1).
// Bytes are fed as they arrive, in pieces of any size; decoded body bytes are
// appended to the caller's buffer. Chunk extensions are skipped; the body ends
// with the last (zero-size) chunk, and what follows it (trailer fields) is not
// needed and not read.
#include <cstddef>
#include <cstdint>

#include "runtime/types.h"

namespace net {

// Longest chunk-size line (size digits and extensions) accepted.
constexpr size_t kMaxChunkLineBytes = 4096;

class ChunkedDecoder {
 public:
  // Decodes `size` bytes; returns how many were used (fewer than `size` only
  // once the last chunk has been seen). Sets the failed state on malformed
  // input: a missing or non-hex size, a size above 2^31-1, an over-long size
  // line, or a chunk not followed by CR LF.
  size_t Feed(const std::uint8_t* data, size_t size, rt::Bytes& out);
  bool Finished() const { return state_ == State::kDone; }
  bool Failed() const { return state_ == State::kFailed; }

 private:
  enum class State { kSize, kExtension, kSizeEnd, kData, kDataCr, kDataLf, kDone, kFailed };

  State state_ = State::kSize;
  int64_t remaining_ = 0;  // bytes left in the current chunk, or the size being read
  size_t size_digits_ = 0;
  size_t line_bytes_ = 0;
};

}  // namespace net

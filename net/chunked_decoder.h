#pragma once
// Streaming decoder of the chunked transfer coding (RFC 9112 section 7.1).
// Bytes are fed as they arrive, in pieces of any size; decoded body bytes are
// appended to the caller's buffer. Chunk extensions are skipped. The body
// ends with the last (zero-size) chunk; the trailer section after it is read
// to its empty line and dropped, so that the connection is left at the start
// of the next response.
#include <cstddef>
#include <cstdint>

#include "runtime/types.h"

namespace net {

// Longest chunk-size line (size digits and extensions) or trailer line accepted.
constexpr size_t kMaxChunkLineBytes = 4096;
// Largest trailer section read past the last chunk.
constexpr size_t kMaxTrailerBytes = 65536;

class ChunkedDecoder {
 public:
  // Decodes `size` bytes; returns how many were used (fewer than `size` only
  // once the message has ended or its trailer was refused). Sets the failed
  // state on malformed input: a missing or non-hex size, a size above
  // 2^63-1, an over-long size line, or a chunk not followed by CR LF.
  size_t Feed(const std::uint8_t* data, size_t size, rt::Bytes& out);
  // The last chunk has been seen: the body is complete.
  bool Finished() const {
    return state_ == State::kTrailer || state_ == State::kTrailerLf || state_ == State::kEnded ||
           state_ == State::kTrailerRefused;
  }
  // The trailer section has ended too: nothing of this message is left.
  bool MessageEnded() const { return state_ == State::kEnded; }
  bool Failed() const { return state_ == State::kFailed; }

 private:
  enum class State {
    kSize,
    kExtension,
    kSizeEnd,
    kData,
    kDataCr,
    kDataLf,
    kTrailer,         // a trailer line (or the final empty line)
    kTrailerLf,       // the LF ending a trailer line
    kEnded,           // the empty line after the trailer: the message is over
    kTrailerRefused,  // an over-long or malformed trailer: the body stands, the rest is not read
    kFailed,
  };

  State state_ = State::kSize;
  int64_t remaining_ = 0;  // bytes left in the current chunk, or the size being read
  size_t size_digits_ = 0;
  size_t line_bytes_ = 0;
  size_t trailer_bytes_ = 0;
};

}  // namespace net

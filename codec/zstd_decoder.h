#pragma once
// A zstd decoder bounded by the file it must produce.
//
// The input is one zstd frame holding a file of a size known beforehand (the
// list gives it). The decoder refuses, as soon as it can tell:
//   - a frame header that declares another content size, or a window larger
//     than kMaxZstdWindowLog allows (a hostile frame cannot make a 32-bit
//     process allocate much: the window is most of the decoder's memory);
//   - output past the expected size (a frame that expands without end);
//   - anything after the frame's end, and a frame zstd finds corrupt
//     (including its content checksum, when it has one);
// and, at Finish, a frame cut short or one that ended below the size.
//
// Push style: Decode takes what input it is given and writes what output
// room it has, advancing both buffers' positions; call it again with more
// input or more room. Memory: the window (at most 2^kMaxZstdWindowLog
// bytes) and zstd's own tables, about 100 KB, whatever the input.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/buffers.h"

namespace codec {

// Largest window a frame may ask for: 8 MiB. patchtool writes frames within
// it; zstd's own levels up to 19 keep to it for files of any size.
inline constexpr int kMaxZstdWindowLog = 23;
// The longest frame header zstd writes (ZSTD_FRAMEHEADERSIZE_MAX).
inline constexpr size_t kZstdHeaderBytes = 18;

enum class ZstdFault {
  kNone,
  kOutOfMemory,       // the decoder's state could not be allocated
  kNotAFrame,         // no zstd frame header (a skippable frame included)
  kContentSize,       // the header declares another size than expected
  kWindowTooLarge,    // the frame asks for a window past kMaxZstdWindowLog
  kTooLong,           // more output than expected
  kCorrupt,           // zstd refused the frame's data or its checksum
  kTrailingData,      // bytes after the frame's end
  kTruncated,         // Finish before the frame's end
  kTooShort,          // the frame ended below the expected size
};
const char* ToString(ZstdFault fault);

class ZstdDecoder {
 public:
  explicit ZstdDecoder(int64_t expected_size);
  ~ZstdDecoder();
  ZstdDecoder(const ZstdDecoder&) = delete;
  ZstdDecoder& operator=(const ZstdDecoder&) = delete;

  // Consumes input and produces output until one of them runs out (or the
  // frame ends). A fault is final: every later call returns it again.
  [[nodiscard]] ZstdFault Decode(InBuffer* in, OutBuffer* out);
  // After the last input: kNone only when the frame ended, nothing followed
  // it and exactly the expected size came out. (Output zstd still holds needs
  // Decode with room first; a frame whose output is all out has ended.)
  [[nodiscard]] ZstdFault Finish() const;

  int64_t produced() const { return produced_; }
  bool frame_ended() const { return frame_ended_; }

 private:
  ZstdFault Fail(ZstdFault fault);
  ZstdFault ReadHeader(InBuffer* in);
  ZstdFault Run(InBuffer* in, OutBuffer* out);

  struct State;
  std::unique_ptr<State> state_;  // zstd's context
  const int64_t expected_;
  int64_t produced_ = 0;
  ZstdFault fault_ = ZstdFault::kNone;
  bool frame_ended_ = false;
  // The first bytes, kept until the frame header can be read whole.
  std::uint8_t header_[kZstdHeaderBytes] = {};
  size_t header_size_ = 0;
  size_t header_fed_ = 0;
  bool header_read_ = false;
};

}  // namespace codec

#pragma once
// Applies a delta patch (delta_format.h) as a push transform: the caller
// pushes patch bytes in and takes the new file's bytes out through buffers
// it owns (codec/buffers.h), and the old file is read through the caller's
// reader, a few chunks of it cached. No files, no threads, no hashing: at each segment's
// end the applier stops (kSegmentDone) so that the caller checks the
// segment's output against header().segments[i].sha256 and may note where
// to resume.
//
// Memory is bounded whatever the file sizes: the zstd window (8 MiB at most,
// kWindowLog), the old file's cache (kCacheChunks x kCacheChunkBytes), one
// chunk of decoded operations and the segment table. Offsets are 64-bit
// throughout. Every rule of the format is checked as the bytes arrive; the
// first broken one ends the apply with a named fault, and no byte is ever
// written past the output's declared size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/buffers.h"
#include "codec/delta/delta_format.h"

namespace codec::delta {

// The old file, read at 64-bit offsets. ReadAt fills all of dest or fails.
class OldFileReader {
 public:
  virtual ~OldFileReader() = default;
  [[nodiscard]] virtual bool ReadAt(std::uint64_t offset, std::uint8_t* dest, size_t size) = 0;
};

// The old file's cache: reads are whole aligned chunks, the least recently
// used one is replaced.
inline constexpr size_t kCacheChunkBytes = 1u << 20;
inline constexpr size_t kCacheChunks = 4;
// Decoded operations are taken from the zstd frame this much at a time.
inline constexpr size_t kStreamChunkBytes = 128u << 10;

enum class ApplyStep {
  kNeedInput,    // all input taken; push more, or Finish at the patch's end
                 // (also after the last segment: only the input's end says
                 // that no bytes trail it)
  kOutputFull,   // the output buffer is full; drain it and call again
  kSegmentDone,  // segment() has produced all of its output, which is in out
  kFault,        // fault() says why; the applier stays failed
};

class DeltaApplier {
 public:
  DeltaApplier(OldFileReader* old, const HeaderExpectations& expect);
  ~DeltaApplier();
  DeltaApplier(const DeltaApplier&) = delete;
  DeltaApplier& operator=(const DeltaApplier&) = delete;

  // Takes patch bytes from `in` and writes output to `out` until one of the
  // steps above. The first bytes are the header and table.
  [[nodiscard]] ApplyStep Apply(InBuffer& in, OutBuffer& out);
  // The patch's input has ended: kNone when every segment is done, else the
  // fault (kTruncated when the input stopped inside the patch).
  [[nodiscard]] DeltaFault Finish();

  // After the header has been read (header() not null): starts over at the
  // start of `segment`, whose body is the next input (at
  // SegmentPatchOffset(segment)) and whose output starts at
  // SegmentOutputOffset(segment). kBadResume when there is no such segment.
  [[nodiscard]] DeltaFault ResumeAt(size_t segment);

  [[nodiscard]] DeltaFault fault() const { return fault_; }
  // The parsed header, null until all of it has arrived.
  [[nodiscard]] const DeltaHeader* header() const { return header_ready_ ? &header_ : nullptr; }
  // The segment in progress (or just done at kSegmentDone).
  [[nodiscard]] size_t segment() const { return segment_; }
  // New-file bytes produced so far (from the resume point's offset on).
  [[nodiscard]] std::uint64_t output_offset() const { return output_offset_; }

 private:
  enum class Phase { kHeader, kSegmentStart, kSegment, kSegmentEnd, kDone, kFailed };

  ApplyStep Fail(DeltaFault fault);
  ApplyStep TakeHeader(InBuffer& in);
  void StartSegment();
  // Decodes more operations into stream_; false with fault_ set on a fault.
  bool Refill(InBuffer& in);
  // Runs operations into out; returns a step or kNeedInput to refill.
  ApplyStep RunOps(InBuffer& in, OutBuffer& out);
  bool ParseOpHead(bool* need_more);
  bool CopyOld(OutBuffer& out);
  const std::uint8_t* CachedChunk(std::uint64_t chunk_start, size_t* bytes);

  OldFileReader* old_;
  HeaderExpectations expect_;
  DeltaFault fault_ = DeltaFault::kNone;
  Phase phase_ = Phase::kHeader;

  std::vector<std::uint8_t> header_bytes_;
  size_t header_wanted_ = kHeaderPrefixBytes;
  DeltaHeader header_;
  bool header_ready_ = false;

  // The segment in progress.
  size_t segment_ = 0;
  std::uint64_t output_offset_ = 0;
  std::uint64_t out_left_ = 0;      // output still to produce
  std::uint64_t body_left_ = 0;     // frame bytes still to read
  std::uint64_t stream_left_ = 0;   // decoded bytes still expected
  bool frame_ended_ = false;
  std::uint64_t predicted_ = 0;     // where a COPY with d = 0 reads
  std::uint8_t op_ = 0;             // the operation in progress
  std::uint64_t op_left_ = 0;       // its bytes still to produce (0: none)
  std::uint64_t copy_from_ = 0;     // the next old byte it copies

  std::vector<std::uint8_t> stream_;  // decoded operations [stream_pos_, stream_end_)
  size_t stream_pos_ = 0;
  size_t stream_end_ = 0;

  struct Chunk {
    std::uint64_t start = 0;
    size_t bytes = 0;
    std::uint64_t used = 0;  // 0: empty
    std::vector<std::uint8_t> data;
  };
  Chunk chunks_[kCacheChunks];
  std::uint64_t use_clock_ = 0;

  struct Decoder;
  std::unique_ptr<Decoder> decoder_;
};

}  // namespace codec::delta

#include "codec/zstd_decoder.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader: the header read before any output
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>

namespace codec {

static_assert(kZstdHeaderBytes == ZSTD_FRAMEHEADERSIZE_MAX, "the header buffer holds any frame header");

struct ZstdDecoder::State {
  ZSTD_DCtx* context = nullptr;
  ~State() { ZSTD_freeDCtx(context); }
};

namespace {

ZstdFault FaultOf(size_t code) {
  switch (ZSTD_getErrorCode(code)) {
    case ZSTD_error_memory_allocation: return ZstdFault::kOutOfMemory;
    case ZSTD_error_prefix_unknown: return ZstdFault::kNotAFrame;
    case ZSTD_error_frameParameter_windowTooLarge: return ZstdFault::kWindowTooLarge;
    default: return ZstdFault::kCorrupt;
  }
}

}  // namespace

const char* ToString(ZstdFault fault) {
  switch (fault) {
    case ZstdFault::kNone: return "no fault";
    case ZstdFault::kOutOfMemory: return "out of memory for the decoder";
    case ZstdFault::kNotAFrame: return "not a zstd frame";
    case ZstdFault::kContentSize: return "the frame declares another size than the file's";
    case ZstdFault::kWindowTooLarge: return "the frame asks for a window past the decoder's limit";
    case ZstdFault::kTooLong: return "the frame produces more than the file's size";
    case ZstdFault::kCorrupt: return "corrupt zstd data";
    case ZstdFault::kTrailingData: return "bytes after the end of the frame";
    case ZstdFault::kTruncated: return "the frame is cut short";
    case ZstdFault::kTooShort: return "the frame produces less than the file's size";
  }
  return "unknown";
}

ZstdDecoder::ZstdDecoder(int64_t expected_size) : state_(new State), expected_(expected_size) {
  state_->context = ZSTD_createDCtx();
  if (state_->context == nullptr ||
      ZSTD_isError(ZSTD_DCtx_setParameter(state_->context, ZSTD_d_windowLogMax, kMaxZstdWindowLog))) {
    fault_ = ZstdFault::kOutOfMemory;
  }
  if (expected_ < 0) fault_ = ZstdFault::kContentSize;
}

ZstdDecoder::~ZstdDecoder() = default;

ZstdFault ZstdDecoder::Fail(ZstdFault fault) {
  fault_ = fault;
  return fault;
}

ZstdFault ZstdDecoder::Decode(InBuffer* in, OutBuffer* out) {
  if (fault_ != ZstdFault::kNone) return fault_;
  if (!header_read_) {
    const ZstdFault header = ReadHeader(in);
    if (header != ZstdFault::kNone || !header_read_) return header;
  }
  return Run(in, out);
}

// Collects the first bytes until the frame header is whole, then judges it
// before zstd sees a byte.
ZstdFault ZstdDecoder::ReadHeader(InBuffer* in) {
  const size_t take = std::min(kZstdHeaderBytes - header_size_, in->left());
  std::copy(in->data + in->pos, in->data + in->pos + take, header_ + header_size_);
  header_size_ += take;
  in->pos += take;
  ZSTD_frameHeader header;
  const size_t result = ZSTD_getFrameHeader(&header, header_, header_size_);
  if (ZSTD_isError(result)) return Fail(FaultOf(result));
  if (result != 0) return ZstdFault::kNone;  // more bytes needed
  if (header.frameType != ZSTD_frame) return Fail(ZstdFault::kNotAFrame);
  if (header.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN &&
      header.frameContentSize != static_cast<unsigned long long>(expected_)) {
    return Fail(ZstdFault::kContentSize);
  }
  if (header.windowSize > (1ULL << kMaxZstdWindowLog)) return Fail(ZstdFault::kWindowTooLarge);
  header_read_ = true;
  return ZstdFault::kNone;
}

// Feeds the kept header bytes, then the caller's, to zstd. Each round either
// moves bytes or returns, so the loop ends.
ZstdFault ZstdDecoder::Run(InBuffer* in, OutBuffer* out) {
  while (true) {
    const bool from_header = header_fed_ < header_size_;
    ZSTD_inBuffer source = from_header ? ZSTD_inBuffer{header_, header_size_, header_fed_}
                                       : ZSTD_inBuffer{in->data, in->size, in->pos};
    if (frame_ended_) return source.pos < source.size ? Fail(ZstdFault::kTrailingData) : ZstdFault::kNone;
    // At the expected size a one-byte probe stands in for the caller's room:
    // any byte zstd puts there is one too many.
    const int64_t left = expected_ - produced_;
    std::uint8_t probe = 0;
    const bool probing = left == 0;
    ZSTD_outBuffer target = probing ? ZSTD_outBuffer{&probe, 1, 0}
                                    : ZSTD_outBuffer{out->data + out->pos,
                                                     static_cast<size_t>(std::min<uint64_t>(
                                                         out->room(), static_cast<uint64_t>(left))),
                                                     0};
    if (target.size == 0) return ZstdFault::kNone;  // the caller's room is full
    const size_t consumed_before = source.pos;
    const size_t result = ZSTD_decompressStream(state_->context, &target, &source);
    (from_header ? header_fed_ : in->pos) = source.pos;
    if (probing && target.pos > 0) return Fail(ZstdFault::kTooLong);
    if (!probing) {
      out->pos += target.pos;
      produced_ += static_cast<int64_t>(target.pos);
    }
    if (ZSTD_isError(result)) return Fail(FaultOf(result));
    if (result == 0) {
      frame_ended_ = true;
      continue;
    }
    if (target.pos == 0 && source.pos == consumed_before) return ZstdFault::kNone;  // needs input or room
  }
}

ZstdFault ZstdDecoder::Finish() const {
  if (fault_ != ZstdFault::kNone) return fault_;
  if (!frame_ended_) return ZstdFault::kTruncated;
  if (produced_ != expected_) return ZstdFault::kTooShort;
  return ZstdFault::kNone;
}

}  // namespace codec

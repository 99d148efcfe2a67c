#include "codec/delta/delta_apply.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>

namespace codec::delta {

struct DeltaApplier::Decoder {
  ZSTD_DCtx* context = nullptr;
  Decoder() {
    context = ZSTD_createDCtx();
    if (context != nullptr) ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kWindowLog);
  }
  ~Decoder() { ZSTD_freeDCtx(context); }
};

DeltaApplier::DeltaApplier(OldFileReader* old, const HeaderExpectations& expect)
    : old_(old), expect_(expect), stream_(kStreamChunkBytes + 1), decoder_(std::make_unique<Decoder>()) {
  header_bytes_.reserve(kHeaderPrefixBytes);
}

DeltaApplier::~DeltaApplier() = default;

ApplyStep DeltaApplier::Fail(DeltaFault fault) {
  if (fault_ == DeltaFault::kNone) fault_ = fault;
  phase_ = Phase::kFailed;
  return ApplyStep::kFault;
}

ApplyStep DeltaApplier::TakeHeader(InBuffer& in) {
  while (in.pos < in.size && header_bytes_.size() < header_wanted_) {
    const size_t take = std::min(in.size - in.pos, header_wanted_ - header_bytes_.size());
    header_bytes_.insert(header_bytes_.end(), in.data + in.pos, in.data + in.pos + take);
    in.pos += take;
    if (header_bytes_.size() == kHeaderPrefixBytes && header_wanted_ == kHeaderPrefixBytes) {
      std::uint32_t count = 0;
      if (const DeltaFault fault = ReadSegmentCount(header_bytes_.data(), &count); fault != DeltaFault::kNone)
        return Fail(fault);
      header_wanted_ = kHeaderPrefixBytes + static_cast<size_t>(count) * kSegmentRecordBytes;
    }
  }
  if (header_bytes_.size() < header_wanted_) return ApplyStep::kNeedInput;
  if (const DeltaFault fault = ParseHeader(header_bytes_.data(), header_bytes_.size(), expect_, &header_);
      fault != DeltaFault::kNone)
    return Fail(fault);
  header_bytes_.clear();
  header_bytes_.shrink_to_fit();
  header_ready_ = true;
  segment_ = 0;
  output_offset_ = 0;
  phase_ = header_.segments.empty() ? Phase::kDone : Phase::kSegmentStart;
  return ApplyStep::kNeedInput;  // not returned: the caller's loop goes on
}

DeltaFault DeltaApplier::ResumeAt(size_t segment) {
  if (phase_ == Phase::kFailed) return fault_;
  if (!header_ready_ || segment >= header_.segments.size()) return DeltaFault::kBadResume;
  segment_ = segment;
  output_offset_ = header_.SegmentOutputOffset(segment);
  phase_ = Phase::kSegmentStart;
  return DeltaFault::kNone;
}

void DeltaApplier::StartSegment() {
  const SegmentRecord& record = header_.segments[segment_];
  out_left_ = header_.SegmentOutputBytes(segment_);
  body_left_ = record.body_bytes;
  stream_left_ = record.stream_bytes;
  frame_ended_ = false;
  predicted_ = header_.SegmentOutputOffset(segment_);
  op_left_ = 0;
  stream_pos_ = stream_end_ = 0;
  ZSTD_DCtx_reset(decoder_->context, ZSTD_reset_session_only);
}

ApplyStep DeltaApplier::Apply(InBuffer& in, OutBuffer& out) {
  for (;;) {
    switch (phase_) {
      case Phase::kFailed:
        return ApplyStep::kFault;
      case Phase::kHeader:
        if (decoder_->context == nullptr) return Fail(DeltaFault::kFrameCorrupt);
        if (TakeHeader(in) == ApplyStep::kFault) return ApplyStep::kFault;
        if (!header_ready_) return ApplyStep::kNeedInput;
        break;
      case Phase::kSegmentStart:
        StartSegment();
        phase_ = Phase::kSegment;
        break;
      case Phase::kSegment: {
        const ApplyStep step = RunOps(in, out);
        if (step == ApplyStep::kSegmentDone) phase_ = Phase::kSegmentEnd;
        return step;
      }
      case Phase::kSegmentEnd:
        ++segment_;
        phase_ = segment_ == header_.segments.size() ? Phase::kDone : Phase::kSegmentStart;
        break;
      case Phase::kDone:
        if (in.pos < in.size) return Fail(DeltaFault::kTrailingBytes);
        return ApplyStep::kNeedInput;
    }
  }
}

DeltaFault DeltaApplier::Finish() {
  if (phase_ == Phase::kFailed) return fault_;
  if (phase_ == Phase::kDone) return DeltaFault::kNone;
  if (phase_ == Phase::kSegmentEnd && segment_ + 1 == header_.segments.size()) return DeltaFault::kNone;
  Fail(DeltaFault::kTruncated);
  return fault_;
}

bool DeltaApplier::Refill(InBuffer& in) {
  if (stream_pos_ > 0) {
    std::memmove(stream_.data(), stream_.data() + stream_pos_, stream_end_ - stream_pos_);
    stream_end_ -= stream_pos_;
    stream_pos_ = 0;
  }
  if (frame_ended_) return false;
  // One byte of room past what the segment declares, so that a frame that
  // decodes to more is caught.
  const size_t room = static_cast<size_t>(
      std::min<std::uint64_t>(stream_.size() - stream_end_, stream_left_ + 1));
  const size_t feed = static_cast<size_t>(std::min<std::uint64_t>(in.size - in.pos, body_left_));
  ZSTD_inBuffer zin{in.data + in.pos, feed, 0};
  ZSTD_outBuffer zout{stream_.data() + stream_end_, room, 0};
  const size_t result = ZSTD_decompressStream(decoder_->context, &zout, &zin);
  if (ZSTD_isError(result)) {
    Fail(ZSTD_getErrorCode(result) == ZSTD_error_frameParameter_windowTooLarge ? DeltaFault::kFrameTooWide
                                                                               : DeltaFault::kFrameCorrupt);
    return false;
  }
  in.pos += zin.pos;
  body_left_ -= zin.pos;
  stream_end_ += zout.pos;
  if (zout.pos > stream_left_) {
    Fail(DeltaFault::kFrameOverruns);
    return false;
  }
  stream_left_ -= zout.pos;
  if (result == 0) {
    frame_ended_ = true;
    if (body_left_ > 0) {
      Fail(DeltaFault::kBodyBytesLeft);
      return false;
    }
    if (stream_left_ > 0) {
      Fail(DeltaFault::kFrameShort);
      return false;
    }
  } else if (body_left_ == 0 && zin.pos == 0 && zout.pos == 0) {
    // Every byte of the body is in and the frame wants more.
    Fail(DeltaFault::kFrameCorrupt);
    return false;
  }
  return zin.pos > 0 || zout.pos > 0 || frame_ended_;
}

bool DeltaApplier::ParseOpHead(bool* need_more) {
  *need_more = false;
  const std::uint8_t* at = stream_.data() + stream_pos_;
  const std::uint8_t* end = stream_.data() + stream_end_;
  const bool all_in = stream_left_ == 0;
  if (at == end) {
    if (all_in) Fail(DeltaFault::kOpsEndEarly);
    else *need_more = true;
    return false;
  }
  const std::uint8_t tag = *at++;
  if (tag != kOpAdd && tag != kOpCopy) {
    Fail(DeltaFault::kBadOpTag);
    return false;
  }
  std::uint64_t bytes = 0, zigzag = 0;
  bool bad = false;
  const bool have = GetVarint(&at, end, &bytes, &bad) && (tag == kOpAdd || GetVarint(&at, end, &zigzag, &bad));
  if (!have) {
    if (bad) Fail(DeltaFault::kBadVarint);
    else if (all_in) Fail(DeltaFault::kOpsEndEarly);
    else *need_more = true;
    return false;
  }
  if (bytes == 0) {
    Fail(DeltaFault::kEmptyOp);
    return false;
  }
  if (bytes > out_left_) {
    Fail(DeltaFault::kOpOverrunsSegment);
    return false;
  }
  if (tag == kOpCopy) {
    const std::int64_t shift = UnZigZag(zigzag);
    const std::uint64_t old_size = header_.old_size;
    std::uint64_t from = 0;
    if (shift < 0) {
      const std::uint64_t back = ~static_cast<std::uint64_t>(shift) + 1;
      if (back > predicted_) {
        Fail(DeltaFault::kCopyOutsideOld);
        return false;
      }
      from = predicted_ - back;
    } else {
      if (static_cast<std::uint64_t>(shift) > old_size) {
        Fail(DeltaFault::kCopyOutsideOld);
        return false;
      }
      from = predicted_ + static_cast<std::uint64_t>(shift);
    }
    if (from > old_size || bytes > old_size - from) {
      Fail(DeltaFault::kCopyOutsideOld);
      return false;
    }
    copy_from_ = from;
    predicted_ = from + bytes;
  } else {
    predicted_ += bytes;
  }
  op_ = tag;
  op_left_ = bytes;
  stream_pos_ = static_cast<size_t>(at - stream_.data());
  return true;
}

const std::uint8_t* DeltaApplier::CachedChunk(std::uint64_t chunk_start, size_t* bytes) {
  Chunk* victim = &chunks_[0];
  for (Chunk& chunk : chunks_) {
    if (chunk.used != 0 && chunk.start == chunk_start) {
      chunk.used = ++use_clock_;
      *bytes = chunk.bytes;
      return chunk.data.data();
    }
    if (chunk.used < victim->used) victim = &chunk;
  }
  const size_t size = static_cast<size_t>(std::min<std::uint64_t>(kCacheChunkBytes, header_.old_size - chunk_start));
  if (victim->data.size() < size) victim->data.resize(kCacheChunkBytes);
  victim->used = 0;
  if (!old_->ReadAt(chunk_start, victim->data.data(), size)) return nullptr;
  victim->start = chunk_start;
  victim->bytes = size;
  victim->used = ++use_clock_;
  *bytes = size;
  return victim->data.data();
}

bool DeltaApplier::CopyOld(OutBuffer& out) {
  while (op_left_ > 0 && out.pos < out.size) {
    const size_t room = out.size - out.pos;
    // A long copy into a large buffer reads straight into it.
    if (op_left_ >= kCacheChunkBytes && room >= kCacheChunkBytes) {
      const size_t take = static_cast<size_t>(std::min<std::uint64_t>(op_left_, room));
      if (!old_->ReadAt(copy_from_, out.data + out.pos, take)) {
        Fail(DeltaFault::kOldReadFailed);
        return false;
      }
      out.pos += take;
      copy_from_ += take;
      op_left_ -= take;
      out_left_ -= take;
      output_offset_ += take;
      continue;
    }
    const std::uint64_t chunk_start = copy_from_ - copy_from_ % kCacheChunkBytes;
    size_t bytes = 0;
    const std::uint8_t* chunk = CachedChunk(chunk_start, &bytes);
    if (chunk == nullptr) {
      Fail(DeltaFault::kOldReadFailed);
      return false;
    }
    const size_t within = static_cast<size_t>(copy_from_ - chunk_start);
    const size_t take = static_cast<size_t>(std::min<std::uint64_t>({bytes - within, op_left_, room}));
    std::memcpy(out.data + out.pos, chunk + within, take);
    out.pos += take;
    copy_from_ += take;
    op_left_ -= take;
    out_left_ -= take;
    output_offset_ += take;
  }
  return true;
}

ApplyStep DeltaApplier::RunOps(InBuffer& in, OutBuffer& out) {
  for (;;) {
    if (op_left_ > 0) {
      if (out.pos == out.size) return ApplyStep::kOutputFull;
      if (op_ == kOpCopy) {
        if (!CopyOld(out)) return ApplyStep::kFault;
        continue;
      }
      if (stream_pos_ == stream_end_) {
        if (stream_left_ == 0) return Fail(DeltaFault::kOpsEndEarly);
        if (!Refill(in)) return phase_ == Phase::kFailed ? ApplyStep::kFault : ApplyStep::kNeedInput;
        continue;
      }
      const size_t take = static_cast<size_t>(
          std::min<std::uint64_t>({op_left_, stream_end_ - stream_pos_, out.size - out.pos}));
      std::memcpy(out.data + out.pos, stream_.data() + stream_pos_, take);
      stream_pos_ += take;
      out.pos += take;
      op_left_ -= take;
      out_left_ -= take;
      output_offset_ += take;
      continue;
    }
    if (out_left_ == 0) {
      // The segment's output is complete: its operations must end here, and
      // its frame with them.
      if (stream_pos_ < stream_end_ || stream_left_ > 0) return Fail(DeltaFault::kOpOverrunsSegment);
      if (!frame_ended_) {
        if (!Refill(in)) return phase_ == Phase::kFailed ? ApplyStep::kFault : ApplyStep::kNeedInput;
        continue;
      }
      return ApplyStep::kSegmentDone;
    }
    if (stream_end_ - stream_pos_ < kMaxOpHeadBytes && stream_left_ > 0) {
      if (Refill(in)) continue;
      if (phase_ == Phase::kFailed) return ApplyStep::kFault;
      // Refill made no progress: parse what there is, else wait for input.
    }
    bool need_more = false;
    if (ParseOpHead(&need_more)) continue;
    if (need_more) return ApplyStep::kNeedInput;
    return ApplyStep::kFault;
  }
}

}  // namespace codec::delta

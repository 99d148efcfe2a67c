#include "net/partial_file.h"

namespace net {
namespace {

SinkResult Failure(FailReason reason, uint32_t error = 0) {
  SinkResult result;
  result.reason = reason;
  result.system_error = static_cast<int32_t>(error);
  return result;
}

}  // namespace

SinkResult PartialFile::Prepare(int64_t expected_size) {
  int64_t kept = Kept();
  if (expected_size >= 0 && kept > expected_size && Drop()) kept = -1;
  // No file until one is begun: the first request's resume point needs no
  // second look-up.
  known_absent_ = kept < 0;
  if (next_ == nullptr) return SinkResult();
  static_cast<void>(next_->Begin(true));
  if (kept <= 0 || FeedNext(kept)) return SinkResult();
  // Its bytes cannot be read back: the file is fetched from byte 0.
  if (Drop()) return SinkResult();
  return Failure(FailReason::kCannotOpen);
}

int64_t PartialFile::Kept() const {
  // A folder of that name reads as size 0: the file resumes from byte 0.
  return known_absent_ ? -1 : Size();
}

SinkResult PartialFile::Begin(bool restart) {
  // Nothing was kept, so nothing is appended to: a file there now (made
  // since the look-up, or one the caller did not know of) starts over.
  const bool fresh = restart || known_absent_;
  known_absent_ = false;
  file_ = rt::OpenedFile(
      rt::OpenFile(path_, fresh ? rt::kModeCreateWrite : rt::kModeOpenOrCreate, rt::kShareDenyWrite));
  if (next_ != nullptr) static_cast<void>(next_->Begin(restart));
  return file_ ? SinkResult() : Failure(FailReason::kCannotOpen);
}

SinkResult PartialFile::Write(const std::uint8_t* data, size_t size) {
  // Always append: move to the end before each write.
  if (!file_ || !rt::SeekToEnd(file_.get())) return Failure(FailReason::kCannotWrite);
  if (!rt::WriteToFile(file_.get(), data, size)) {
    const uint32_t error = rt::LastFileError();
    return Failure(rt::LastFileErrorIsDiskFull() ? FailReason::kDiskFull : FailReason::kCannotWrite, error);
  }
  return next_ != nullptr ? next_->Write(data, size) : SinkResult();
}

SinkResult SpanFile::Begin(bool restart) {
  written_ = 0;
  if (restart) return Failure(FailReason::kCannotWrite);
  file_ = rt::OpenedFile(rt::OpenFile(path_, rt::kModeWrite, rt::kShareDenyWrite));
  if (!file_ || !rt::SeekFile(file_.get(), offset_)) return Failure(FailReason::kCannotOpen);
  return SinkResult();
}

SinkResult SpanFile::Write(const std::uint8_t* data, size_t size) {
  if (!file_ || static_cast<int64_t>(size) > bytes_ - written_) return Failure(FailReason::kCannotWrite);
  if (!rt::WriteToFile(file_.get(), data, size)) {
    const uint32_t error = rt::LastFileError();
    return Failure(rt::LastFileErrorIsDiskFull() ? FailReason::kDiskFull : FailReason::kCannotWrite, error);
  }
  written_ += static_cast<int64_t>(size);
  return SinkResult();
}

bool PartialFile::Drop() {
  known_absent_ = false;
  file_.reset();
  if (next_ != nullptr) static_cast<void>(next_->Begin(true));
  return rt::RemoveFile(path_) || !rt::FileExists(path_);
}

bool PartialFile::FeedNext(int64_t size) const {
  const rt::OpenedFile file(rt::OpenFile(path_, rt::kModeRead, rt::kShareDenyNone));
  if (!file) return false;
  rt::Bytes piece(kPartialReadSize);
  int64_t left = size;
  // Bounded: every round reads at least one byte or stops.
  while (left > 0) {
    const size_t want = left < static_cast<int64_t>(piece.size()) ? static_cast<size_t>(left) : piece.size();
    const int64_t n = rt::ReadFull(file.get(), piece.data(), want);
    if (n <= 0) return false;
    if (!next_->Write(piece.data(), static_cast<size_t>(n)).ok()) return false;
    left -= n;
  }
  return true;
}

}  // namespace net

#include "net/download_target.h"

namespace net {

DownloadTarget DownloadTarget::File(const rt::Text& save_path) {
  DownloadTarget target;
  target.memory_ = false;
  target.save_path_ = save_path;
  target.partial_path_ = save_path + kPartialSuffix;
  return target;
}

DownloadTarget DownloadTarget::Memory(rt::Bytes* body) {
  DownloadTarget target;
  target.body_ = body;
  return target;
}

int64_t DownloadTarget::ResumableSize() const {
  if (memory_ || !rt::FileExists(partial_path_)) return -1;
  // A folder of that name, or a file gone since, resumes from byte 0.
  const int64_t size = rt::FileSize64(partial_path_);
  return size < 0 ? 0 : size;
}

bool DownloadTarget::Begin(bool restart) {
  if (memory_) {
    if (body_ != nullptr) body_->clear();
    return true;
  }
  file_ = rt::OpenedFile(rt::OpenFile(partial_path_, restart ? rt::kModeCreateWrite : rt::kModeOpenOrCreate,
                                      rt::kShareDenyWrite));
  return static_cast<bool>(file_);
}

bool DownloadTarget::Append(const std::uint8_t* data, size_t size) {
  if (memory_) {
    if (body_ != nullptr) body_->insert(body_->end(), data, data + size);
    return true;
  }
  // Always append: move to the end before each write.
  write_error_ = 0;
  disk_full_ = false;
  if (!file_ || !rt::SeekToEnd(file_.get())) return false;
  if (rt::WriteToFile(file_.get(), data, size)) return true;
  write_error_ = rt::LastFileError();
  disk_full_ = rt::LastFileErrorIsDiskFull();
  return false;
}

bool DownloadTarget::FeedPartial(BodyObserver& observer, int64_t size) const {
  if (memory_ || size <= 0) return size <= 0;
  const rt::OpenedFile file(rt::OpenFile(partial_path_, rt::kModeRead, rt::kShareDenyNone));
  if (!file) return false;
  rt::Bytes piece(kPartialReadSize);
  int64_t left = size;
  // Bounded: every round reads at least one byte or stops.
  while (left > 0) {
    const size_t want = left < static_cast<int64_t>(piece.size()) ? static_cast<size_t>(left) : piece.size();
    const int64_t n = rt::ReadFull(file.get(), piece.data(), want);
    if (n <= 0) return false;
    observer.Take(piece.data(), static_cast<size_t>(n));
    left -= n;
  }
  return true;
}

void DownloadTarget::End() { file_.reset(); }

int64_t DownloadTarget::PartialSize() const { return rt::FileSize64(partial_path_); }

bool DownloadTarget::DropPartial() { return rt::RemoveFile(partial_path_) || !rt::FileExists(partial_path_); }

bool DownloadTarget::Install() {
  rt::MakeWritable(save_path_);
  rt::RemoveFile(save_path_);  // absent is fine; a failure shows in the move
  return rt::MoveFile(partial_path_, save_path_);
}

}  // namespace net

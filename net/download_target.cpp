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
  return file_ && rt::SeekToEnd(file_.get()) && rt::WriteToFile(file_.get(), data, size);
}

void DownloadTarget::End() { file_.reset(); }

int64_t DownloadTarget::PartialSize() const { return rt::FileSize64(partial_path_); }

void DownloadTarget::DropPartial() { rt::RemoveFile(partial_path_); }

bool DownloadTarget::Install() {
  rt::MakeWritable(save_path_);
  rt::RemoveFile(save_path_);  // absent is fine; a failure shows in the move
  return rt::MoveFile(partial_path_, save_path_);
}

}  // namespace net

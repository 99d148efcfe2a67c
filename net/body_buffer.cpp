#include "net/body_buffer.h"

#include <cstring>

namespace net {

void BodyBuffer::Copy(const std::uint8_t* data, size_t size) {
  KeepView();
  if (size == 0) return;
  // pending_ only grows (to the flush size plus one receive): allocated once.
  if (pending_.size() < pending_size_ + size) pending_.resize(pending_size_ + size);
  std::memcpy(pending_.data() + pending_size_, data, size);
  pending_size_ += size;
}

void BodyBuffer::View(const std::uint8_t* data, size_t size) {
  if (size == 0) return;
  if (pending_size_ == 0 && (view_size_ == 0 || view_ + view_size_ == data)) {
    if (view_size_ == 0) view_ = data;
    view_size_ += size;
    return;
  }
  Copy(data, size);
}

void BodyBuffer::KeepView() {
  if (view_size_ == 0) return;
  const std::uint8_t* data = view_;
  const size_t size = view_size_;
  view_ = nullptr;
  view_size_ = 0;
  Copy(data, size);
}

bool BodyBuffer::Flush() {
  const size_t size = Size();
  if (size == 0) return true;
  const std::uint8_t* data = view_size_ != 0 ? view_ : pending_.data();
  const bool ok = target_.Append(data, size);
  if (ok && observer_ != nullptr) observer_->Take(data, size);
  pending_size_ = 0;
  view_ = nullptr;
  view_size_ = 0;
  return ok;
}

}  // namespace net

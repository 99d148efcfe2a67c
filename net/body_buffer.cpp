#include "net/body_buffer.h"

#include <cstring>

namespace net {

void BodyBuffer::Write(const std::uint8_t* data, size_t size) {
  if (size == 0 || Failed()) return;
  failure_ = sink_.Write(data, size);
}

void BodyBuffer::FlushPending() {
  Write(pending_.data(), pending_size_);
  pending_size_ = 0;
}

void BodyBuffer::Copy(const std::uint8_t* data, size_t size) {
  KeepView();
  if (size == 0) return;
  if (pending_size_ + size > small_size_) FlushPending();
  if (size >= small_size_) {
    Write(data, size);
    return;
  }
  // pending_ never holds more than the small-piece size: allocated once.
  if (pending_.size() < small_size_) pending_.resize(small_size_);
  std::memcpy(pending_.data() + pending_size_, data, size);
  pending_size_ += size;
}

void BodyBuffer::View(const std::uint8_t* data, size_t size) {
  if (size == 0) return;
  if (view_size_ != 0 && view_ + view_size_ != data) KeepView();
  if (view_size_ == 0) view_ = data;
  view_size_ += size;
}

void BodyBuffer::KeepView() {
  if (view_size_ == 0) return;
  const std::uint8_t* data = view_;
  const size_t size = view_size_;
  view_ = nullptr;
  view_size_ = 0;
  Copy(data, size);
}

void BodyBuffer::Flush() {
  // The pending bytes come before the viewed run.
  FlushPending();
  Write(view_, view_size_);
  view_ = nullptr;
  view_size_ = 0;
}

}  // namespace net

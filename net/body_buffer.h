#pragma once
// BodyBuffer: the body bytes of one download between the socket and the
// target, written in batches of at least the flush size. Bytes either sit in
// a buffer of its own or, without a copy, as a run of consecutive receive
// views still inside the socket's read-ahead buffer (copied in only when
// that buffer is about to be refilled). Every batch written is shown to the
// observer, if any, in order. The buffer grows to the flush size plus one
// receive, allocated once.
#include <cstddef>
#include <cstdint>

#include "net/body_observer.h"
#include "net/download_target.h"
#include "runtime/types.h"

namespace net {

class BodyBuffer {
 public:
  BodyBuffer(DownloadTarget& target, BodyObserver* observer, size_t flush_size)
      : target_(target), observer_(observer), flush_size_(flush_size) {}
  BodyBuffer(const BodyBuffer&) = delete;
  BodyBuffer& operator=(const BodyBuffer&) = delete;

  // Copies `size` bytes in.
  void Copy(const std::uint8_t* data, size_t size);
  // Takes `size` bytes of a receive view: kept as a view when they follow the
  // viewed run (or start one), copied otherwise.
  void View(const std::uint8_t* data, size_t size);
  // Copies the viewed bytes in: call before the socket's buffer is refilled.
  void KeepView();
  size_t Size() const { return pending_size_ + view_size_; }
  bool FlushDue() const { return Size() >= flush_size_; }
  // Writes what is held to the target and shows it to the observer; false
  // when the write failed (the bytes are dropped either way).
  [[nodiscard]] bool Flush();

 private:
  DownloadTarget& target_;
  BodyObserver* observer_;
  const size_t flush_size_;
  rt::Bytes pending_;
  size_t pending_size_ = 0;
  const std::uint8_t* view_ = nullptr;
  size_t view_size_ = 0;
};

}  // namespace net

#pragma once
// BodyBuffer: the body bytes of one download between the socket and the
// sink. Bytes arrive as receive views into the connection's read-ahead
// buffer, or as copies (a chunked body's decoded bytes, the body bytes of the
// head's receive). A run of consecutive views is written straight from the
// read-ahead buffer, whole, once it is large (at least the small-piece size)
// or the buffer is about to be refilled; only small pieces are copied into a
// buffer of their own and written once it holds the small-piece size. So a
// fast body goes to the sink in pieces of up to one read-ahead fill without a
// copy, and the memory held is the small-piece buffer, allocated once.
#include <cstddef>
#include <cstdint>

#include "net/body_sink.h"
#include "runtime/types.h"

namespace net {

class BodyBuffer {
 public:
  BodyBuffer(BodySink& sink, size_t small_piece_size) : sink_(sink), small_size_(small_piece_size) {}
  BodyBuffer(const BodyBuffer&) = delete;
  BodyBuffer& operator=(const BodyBuffer&) = delete;

  // Copies `size` bytes in (written straight away when they are many).
  void Copy(const std::uint8_t* data, size_t size);
  // Takes `size` bytes of a receive view: kept as a view when they follow the
  // viewed run (or start one); a run that does not follow ends the one before.
  void View(const std::uint8_t* data, size_t size);
  // Ends the viewed run (written when large, copied otherwise): call before
  // the socket's buffer is refilled.
  void KeepView();
  // A whole read-ahead fill is in view, or the small-piece buffer is full.
  bool FlushDue(size_t fill_size) const { return view_size_ >= fill_size || pending_size_ >= small_size_; }
  // Writes everything held to the sink.
  void Flush();
  // The first write that failed (its bytes and all after it are dropped).
  const SinkResult& Failure() const { return failure_; }
  bool Failed() const { return !failure_.ok(); }

 private:
  void Write(const std::uint8_t* data, size_t size);
  void FlushPending();

  BodySink& sink_;
  const size_t small_size_;
  rt::Bytes pending_;
  size_t pending_size_ = 0;
  const std::uint8_t* view_ = nullptr;
  size_t view_size_ = 0;
  SinkResult failure_;
};

}  // namespace net

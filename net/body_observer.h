#pragma once
// BodyObserver: sees every byte of a download's body in file order, so that a
// caller can hash a file while it arrives without reading it back.
#include <cstddef>
#include <cstdint>

namespace net {

class BodyObserver {
 public:
  virtual ~BodyObserver() = default;
  // The body starts over at byte 0: forget everything taken so far. Told at
  // the start of every call, again when the server sends the whole resource
  // to a range request, and when a stale partial file is dropped.
  virtual void Restart() = 0;
  // The next `size` bytes of the file: on a resume first the bytes already in
  // the partial file, then every byte as it lands there.
  virtual void Take(const std::uint8_t* data, size_t size) = 0;
};

}  // namespace net

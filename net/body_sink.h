#pragma once
// BodySink: where the body of one response goes, in file order. The engine
// reads the response and hands the body to the sink its caller built; the
// sink decides where the bytes live (a partial file, a memory buffer) and
// may pass them on down a chain (a decoder, a verifier). A sink that keeps
// bytes across calls (a partial file) says how many, so that the request
// asks only for the rest, and shows its chain those bytes before the first
// request, so that every link sees the whole body from byte 0.
#include <cstddef>
#include <cstdint>

#include "net/download_report.h"

namespace net {

// The outcome of a sink's step: kNone, or kCannotOpen / kCannotWrite /
// kDiskFull with the system's error.
struct SinkResult {
  FailReason reason = FailReason::kNone;
  int32_t system_error = 0;

  bool ok() const { return reason == FailReason::kNone; }
};

class BodySink {
 public:
  virtual ~BodySink() = default;

  // Once, before the first request: a kept part longer than `expected_size`
  // (-1: not known) cannot be a prefix of the resource and goes; the chain
  // behind is shown the kept bytes. Not ok when the call cannot go on.
  [[nodiscard]] virtual SinkResult Prepare(int64_t expected_size) {
    static_cast<void>(expected_size);
    return SinkResult();
  }
  // The bytes kept from an earlier call, which a request resumes after; -1:
  // none (the whole resource is asked for).
  virtual int64_t Kept() const { return -1; }
  // The body starts: after the kept bytes, or over at byte 0 when `restart`
  // (the server sent the whole resource).
  [[nodiscard]] virtual SinkResult Begin(bool restart) = 0;
  // The next `size` bytes of the body.
  [[nodiscard]] virtual SinkResult Write(const std::uint8_t* data, size_t size) = 0;
  // This call writes no more; what was written stays.
  virtual void End() {}
  // The kept bytes are not a prefix of the resource: they go, and the body
  // starts over at byte 0. True when they are gone (or there were none).
  virtual bool Drop() { return true; }
  // Whether the sink keeps the body across calls, so that only a body that
  // ran to its stated end counts as complete. A memory buffer takes what came.
  virtual bool Keeps() const { return false; }
};

}  // namespace net

#pragma once
// Transfer: one response on a connection that has just carried the request,
// read from its head to the end of its body: the status, the ranges and the
// framing checked, the body handed to the caller's sink (through a
// BodyBuffer), the counters published, the stall and floor watches kept on
// the caller's clock, and the outcome put in the call's report. It decides
// whether the connection may carry another request and when the call should
// go another round (see TransferEnd). It never moves a file into place.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/body_buffer.h"
#include "net/body_sink.h"
#include "net/chunked_decoder.h"
#include "net/download_options.h"
#include "net/download_report.h"
#include "net/http_response.h"
#include "net/stall_watch.h"
#include "net/tcp_socket.h"
#include "runtime/types.h"

namespace net {

enum class TransferEnd {
  kDone,             // the call's result is in the report
  kRetryFresh,       // a reused connection gave no answer: send again on a new one
  kRestartFromZero,  // a stale kept part was dropped: ask for the whole resource
};

struct TransferSetup {
  TcpSocket& socket;
  BodySink& sink;
  const DownloadOptions& options;
  const TickSource& ticks;
  bool via_proxy;
  bool may_retry_fresh;  // the connection was reused: no answer at all may go another round
  bool may_restart;      // a stale kept part may be dropped for a whole fetch
  int64_t range_start;   // the resume form's range start; -1: the fresh form
  std::atomic<int64_t>& total_out;
  std::atomic<int64_t>& done_out;
  DownloadReport& report;
};

class Transfer {
 public:
  explicit Transfer(const TransferSetup& setup);
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Reads the response. Bounded: each round takes at least one byte or ends,
  // a receive waits at most the receive wait, the stall rule ends a trickle,
  // and the body is bounded by its stated size (or by 2^63-1).
  TransferEnd Run();
  // The response was read to its end, the server keeps the connection, and
  // nothing beyond the response arrived: the connection may carry another
  // fresh request. With `answers_follow` (requests were sent ahead) bytes
  // beyond the response are the next answer's: see ExtraBytes.
  bool KeepsConnection(bool answers_follow = false) const;
  // Bytes of the latest receive beyond the response's end, to be handed out
  // again to the next answer's reader (TcpSocket::Unread).
  int32_t ExtraBytes() const { return extra_bytes_; }

 private:
  // How the end of the body is known.
  enum class Framing {
    kLength,      // Content-Length
    kChunked,     // the last chunk
    kUntilClose,  // no Content-Length: the body runs until a receive fails
  };
  enum class HeadStep { kMore, kBody, kSettled, kRetryFresh, kRestart };

  HeadStep OnHeadBytes();
  HeadStep AwaitMoreHead();
  HeadStep OnRangeNotSatisfiable(size_t head_end);
  HeadStep StartBody(const ResponseHead& head, size_t body_offset);
  HeadStep Settle(DownloadResult result, FailReason reason);
  bool ReceiveBody(int32_t wait_ms);
  // One receive through `receive(wait, most)` (the bytes it gave, -1 for
  // none); with a cancel flag or a rate limit the wait goes in pieces, the
  // flag is looked at between them (cancelled_ set) and each piece takes no
  // more than the limit grants. With the run's byte counter, a wait that
  // runs out while the counter moved starts over (wait_behind_run_ms).
  template <typename ReceiveFn>
  bool Receive(int32_t wait_ms, ReceiveFn receive);
  int32_t ReceiveChunk(int32_t wait_ms, int32_t most);
  int32_t Allowance();
  bool Cancelled();
  void TakeBody(const std::uint8_t* data, size_t size);
  void NoteExtra(size_t extra);
  void Count(size_t size);
  size_t Clip(size_t size) const;
  bool BodyComplete() const;
  bool Watched();
  // Why the latest receive ended; a time-out reports `wait_ms` and the
  // waits past it (waited_on_ms_).
  void NoteReceiveEnd(int32_t wait_ms);
  void NoteWriteFailure(const SinkResult& failure);
  void FlushBuffer(bool all);
  void Publish();
  TransferEnd Finish();
  TransferEnd Done(DownloadResult result, FailReason reason);

  const TransferSetup s_;
  const bool resume_;
  int64_t range_start_;
  const int64_t span_last_;  // the last byte of a span asked for; -1: to the end
  // The resource's whole size as a 206 states it (-1: not stated); the body
  // must end there.
  int64_t stated_total_ = -1;

  std::string head_;
  bool headers_read_ = false;
  bool head_keeps_ = false;  // the head lets the connection carry another request
  Framing framing_ = Framing::kLength;
  ChunkedDecoder chunked_;
  bool broken_ = false;        // malformed body or wrong size: the sink's bytes are dropped
  bool write_failed_ = false;  // the sink could not be opened or written
  bool extra_ = false;         // bytes beyond the response's end arrived with it
  int32_t extra_bytes_ = 0;    // how many, at the end of the latest receive
  bool complete_ = false;      // the body's end was reached
  bool cancelled_ = false;     // the caller's cancel flag ended the receiving
  FailReason end_ = FailReason::kNone;    // why the receiving stopped early
  SinkResult write_failure_;
  // Bytes of the latest receive, head and framing included, for the watches.
  int64_t received_ = 0;
  StallWatch stall_;
  StallWatch floor_;
  uint32_t blocked_ms_ = 0;  // waited for the rate limit: left out of the watches' time
  int64_t run_seen_;         // the run's byte count at the floor's last look (floor_judges_run)
  int32_t waited_on_ms_ = 0;  // the latest receive's waits past the first, behind the run's other transfers

  // The engine's own counters; the shared ones are only stored to.
  int64_t total_ = 0;
  int64_t done_ = 0;
  int64_t taken_ = 0;  // body bytes of this call

  BodyBuffer buffer_;
  rt::Bytes chunk_;
  rt::Bytes decoded_;
};

}  // namespace net

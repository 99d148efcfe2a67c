#include "net/transfer.h"

#include <limits>


namespace net {
namespace {

constexpr int64_t kMaxResourceSize = std::numeric_limits<int64_t>::max();
// A connection reset (WSAECONNRESET; the POSIX backend maps ECONNRESET to it).
constexpr int32_t kErrorReset = 10054;
constexpr int kProxyAuthStatus = 407;
constexpr int kRangeNotSatisfiable = 416;

size_t FlushSize(int32_t given) { return given > 0 ? static_cast<size_t>(given) : kDefaultFlushSize; }

}  // namespace

Transfer::Transfer(const TransferSetup& setup)
    : s_(setup),
      resume_(setup.range_start >= 0),
      range_start_(setup.range_start >= 0 ? setup.range_start : 0),
      span_last_(setup.range_start >= 0 ? setup.options.range_last : -1),
      stall_(setup.ticks(), setup.options.limits.stall_window_ms, setup.options.limits.stall_min_bytes),
      floor_(StallWatch::Floor(setup.ticks(), setup.options.limits.floor_window_ms,
                               setup.options.limits.floor_bytes_per_second)),
      run_seen_(setup.options.received_counter != nullptr ? setup.options.received_counter->load() : 0),
      buffer_(setup.sink, FlushSize(setup.options.flush_size)) {}

TransferEnd Transfer::Run() {
  chunk_.reserve(kReceiveBufferSize);
  const int32_t wait_ms = s_.options.limits.receive_wait_ms;
  while (true) {
    if (!headers_read_) {
      if (!Receive(wait_ms, [this](int32_t wait, int32_t most) { return ReceiveChunk(wait, most); })) {
        // A kept connection the server has dropped meanwhile: nothing lost.
        if (!cancelled_ && s_.may_retry_fresh && head_.empty()) return TransferEnd::kRetryFresh;
        NoteReceiveEnd(wait_ms);
        break;
      }
      received_ = static_cast<int64_t>(chunk_.size());
      switch (OnHeadBytes()) {
        case HeadStep::kMore:
          if (Watched() || Cancelled()) return Finish();
          continue;
        case HeadStep::kSettled: return TransferEnd::kDone;
        case HeadStep::kRetryFresh: return TransferEnd::kRetryFresh;
        case HeadStep::kRestart: return TransferEnd::kRestartFromZero;
        case HeadStep::kBody: break;
      }
      // The body bytes of the head's receive are written at once.
      FlushBuffer(true);
    } else {
      if (!ReceiveBody(wait_ms)) {
        NoteReceiveEnd(wait_ms);
        break;
      }
      FlushBuffer(false);
    }
    Publish();
    if (broken_ || write_failed_) break;
    if (BodyComplete()) {
      complete_ = true;
      break;
    }
    if (Watched() || Cancelled()) break;
    received_ = 0;
  }
  return Finish();
}

bool Transfer::KeepsConnection(bool answers_follow) const {
  if (!complete_ || !head_keeps_ || resume_ || s_.options.headers_only) return false;
  if (framing_ == Framing::kChunked && !chunked_.MessageEnded()) return false;
  if (framing_ == Framing::kUntilClose) return false;
  return answers_follow || (!extra_ && s_.socket.Buffered() == 0);
}

Transfer::HeadStep Transfer::OnHeadBytes() {
  head_.append(chunk_.begin(), chunk_.end());
  const int code = StatusCodeOf(head_);
  // Not known yet: the bytes so far could still start a status line.
  if (code == 0) return AwaitMoreHead();
  if (code < 0) {
    // On a reused connection: bytes nobody asked for, not an answer.
    if (s_.may_retry_fresh) return HeadStep::kRetryFresh;
    return Settle(DownloadResult::BadStatus, FailReason::kNotHttp);
  }
  s_.report.http_status = code;
  if (CheckStatusLine(head_) == StatusCheck::kRefused) {
    // A proxy that wants credentials has its own result.
    if (s_.via_proxy && code == kProxyAuthStatus) {
      return Settle(DownloadResult::ProxyAuthRequired, FailReason::kProxyCredentials);
    }
    // A 5xx is the server's trouble of the moment, worth another try.
    if (code >= 500 && code <= 599) return Settle(DownloadResult::ServerError, FailReason::kHttpStatus);
    if (!resume_ || code != kRangeNotSatisfiable) return Settle(DownloadResult::BadStatus, FailReason::kHttpStatus);
    // A 416 to a resume says how large the resource is: read it whole.
  }
  const size_t end = FindHeaderEnd(head_);
  if (end == 0) return AwaitMoreHead();
  if (end > kMaxHeaderBytes) return Settle(DownloadResult::BadStatus, FailReason::kHeadTooLarge);
  if (code == kRangeNotSatisfiable) return OnRangeNotSatisfiable(end);
  ResponseHead head;
  if (!ParseResponseHead(head_.substr(0, end), &head)) return Settle(DownloadResult::BadStatus, FailReason::kNotHttp);
  return StartBody(head, end);
}

// The head is not complete yet: wait for more, unless it is too long already.
Transfer::HeadStep Transfer::AwaitMoreHead() {
  if (head_.size() > kMaxHeaderBytes) return Settle(DownloadResult::BadStatus, FailReason::kHeadTooLarge);
  return HeadStep::kMore;
}

// The range asked for starts at or past the end of the resource. When the
// kept part is exactly the resource ("bytes */N", N its size) it is
// complete: an earlier call received it all (the report says so, and the
// caller moves it into place). Any other kept part is stale (longer than
// the resource, or of another version): it goes, and the call asks again for
// the whole resource.
Transfer::HeadStep Transfer::OnRangeNotSatisfiable(size_t head_end) {
  // A span the resource does not have: it is not the resource the caller knows.
  if (span_last_ >= 0) return Settle(DownloadResult::BadStatus, FailReason::kBadContentRange);
  ResponseHead head;
  ParseRangeNotSatisfiable(head_.substr(0, head_end), &head);
  const int64_t complete = head.unsatisfied_complete;
  s_.report.stated_size = complete;
  if (s_.options.headers_only) return Settle(DownloadResult::BadStatus, FailReason::kHttpStatus);
  const int64_t expected = s_.options.expected_size;
  if (expected >= 0 && complete >= 0 && complete != expected) {
    return Settle(DownloadResult::BadStatus, FailReason::kSizeDiffers);
  }
  if (complete >= 0 && complete == range_start_) {
    total_ = range_start_;
    done_ = range_start_;
    s_.total_out.store(total_);
    Publish();
    s_.report.kept_complete = true;
    return Settle(DownloadResult::Ok, FailReason::kNone);
  }
  // A kept part that will not go would be asked for again and again.
  if (!s_.may_restart || !s_.sink.Drop()) return Settle(DownloadResult::BadStatus, FailReason::kHttpStatus);
  return HeadStep::kRestart;
}

Transfer::HeadStep Transfer::StartBody(const ResponseHead& head, size_t body_offset) {
  if (head.status == 206) {
    // Only the range that was asked for may be appended (a fresh request
    // asked for byte 0 on), and it must run to the end of the resource, with
    // a length that agrees with it: a shorter part would be installed as
    // the whole file.
    const int64_t last = span_last_ >= 0 ? span_last_ : head.range_complete - 1;
    if (!head.content_range_valid || head.range_first != range_start_ || head.range_complete < 0 ||
        head.range_last != last ||
        (head.has_content_length && head.content_length_valid &&
         head.content_length != head.range_last - head.range_first + 1)) {
      return Settle(DownloadResult::BadStatus, FailReason::kBadContentRange);
    }
    stated_total_ = head.range_complete;
  } else if (span_last_ >= 0) {
    // A span asked for is taken from a 206 for that span alone.
    return Settle(DownloadResult::BadStatus, FailReason::kBadContentRange);
  }
  // A whole answer to a range request: the partial file starts over.
  const bool restart = resume_ && head.status != 206;
  if (restart) range_start_ = 0;
  if (head.chunked) {
    framing_ = Framing::kChunked;
  } else if (head.has_content_length) {
    if (!head.content_length_valid) return Settle(DownloadResult::BadStatus, FailReason::kBadContentLength);
    framing_ = Framing::kLength;
  } else if (span_last_ >= 0) {
    // A span's length is known from its Content-Range: bytes after it are not its.
    framing_ = Framing::kLength;
  } else {
    framing_ = Framing::kUntilClose;
  }
  const int64_t length = framing_ == Framing::kLength ? head.content_length : 0;
  if (length > kMaxResourceSize - range_start_) return Settle(DownloadResult::BadStatus, FailReason::kTooLarge);
  const int64_t whole = stated_total_ >= 0 ? stated_total_ : framing_ == Framing::kLength ? range_start_ + length : -1;
  s_.report.stated_size = whole;
  const int64_t expected = s_.options.expected_size;
  if (expected >= 0 && whole >= 0 && whole != expected) {
    return Settle(DownloadResult::BadStatus, FailReason::kSizeDiffers);
  }
  total_ = whole >= 0 ? whole : range_start_;
  // The body of a span ends at its last byte.
  if (span_last_ >= 0) total_ = span_last_ + 1;
  headers_read_ = true;
  head_keeps_ = net::KeepsConnection(head);
  // A chunked body's size is known only at its end.
  s_.total_out.store(framing_ == Framing::kChunked && stated_total_ < 0 && !s_.options.headers_only ? 0 : total_);
  if (s_.options.headers_only) return Settle(DownloadResult::Ok, FailReason::kNone);

  const SinkResult begun = s_.sink.Begin(restart);
  if (!begun.ok()) NoteWriteFailure(begun);
  done_ = range_start_;
  TakeBody(reinterpret_cast<const std::uint8_t*>(head_.data()) + body_offset, head_.size() - body_offset);
  std::string().swap(head_);
  return HeadStep::kBody;
}

Transfer::HeadStep Transfer::Settle(DownloadResult result, FailReason reason) {
  s_.report.result = result;
  s_.report.reason = reason;
  return HeadStep::kSettled;
}

bool Transfer::ReceiveBody(int32_t wait_ms) {
  if (framing_ == Framing::kChunked) {
    if (!Receive(wait_ms, [this](int32_t wait, int32_t most) { return ReceiveChunk(wait, most); })) return false;
    received_ = static_cast<int64_t>(chunk_.size());
    TakeBody(chunk_.data(), chunk_.size());
    return true;
  }
  // The next receive would start the socket's buffer over under the view.
  // Until then the view grows by each receive, and is written whole once it
  // fills the buffer (FlushBuffer): one write per read-ahead buffer however
  // little each read from the system brings.
  if (s_.socket.RefillStartsOver()) {
    buffer_.KeepView();
    if (buffer_.Failed()) NoteWriteFailure(buffer_.Failure());
  }
  const std::uint8_t* data = nullptr;
  int32_t n = 0;
  const auto view = [&](int32_t wait, int32_t most) { return s_.socket.ReceiveViewMs(&data, &n, wait, most) ? n : -1; };
  if (!Receive(wait_ms, view)) return false;
  received_ = n;
  const size_t take = Clip(static_cast<size_t>(n));
  NoteExtra(static_cast<size_t>(n) - take);
  buffer_.View(data, take);
  Count(take);
  return true;
}

int32_t Transfer::ReceiveChunk(int32_t wait_ms, int32_t most) {
  return s_.socket.ReceiveMs(chunk_, wait_ms, most) ? static_cast<int32_t>(chunk_.size()) : -1;
}

template <typename ReceiveFn>
bool Transfer::Receive(int32_t wait_ms, ReceiveFn receive) {
  const bool in_pieces = s_.options.cancel != nullptr || s_.options.rate != nullptr;
  std::atomic<int64_t>* const run = s_.options.received_counter;
  int64_t run_seen = run != nullptr ? run->load() : 0;
  waited_on_ms_ = 0;
  // Bounded: every piece takes kCancelPollMs of the wait, or less; the
  // rate's wait is bounded on its own (see SharedRate::Take); the wait
  // starts over at most wait_behind_run_ms / wait_ms times.
  int32_t left = wait_ms;
  while (true) {
    if (Cancelled()) return false;
    const int32_t piece = !in_pieces || left < kCancelPollMs ? left : kCancelPollMs;
    const int32_t most = Allowance();
    if (most == 0) return false;
    const int32_t got = receive(piece, most);
    if (s_.options.rate != nullptr) s_.options.rate->Refund(most - (got > 0 ? got : 0));
    if (got >= 0) return true;
    left -= piece;
    if (s_.socket.LastReceiveFailure() != ReceiveFailure::kTimedOut) return false;
    if (left > 0) continue;
    // Nothing within the wait, while the run's other transfers received:
    // this connection's bytes queue behind theirs on a line they share, and
    // a new try would only queue again. It waits on.
    const int64_t run_now = run != nullptr ? run->load() : 0;
    if (run_now == run_seen || waited_on_ms_ + wait_ms > s_.options.limits.wait_behind_run_ms) return false;
    run_seen = run_now;
    waited_on_ms_ += wait_ms;
    left = wait_ms;
  }
}

// What the run's rate limit lets the next receive take; 0 when the wait for
// it ended without a grant (cancelled, or a pause held too long).
int32_t Transfer::Allowance() {
  if (s_.options.rate == nullptr) return kReadAheadSize;
  // Paused: what arrived is written before the wait, so a player who pauses
  // and then ends the updater keeps it.
  if (s_.options.rate->Paused()) FlushBuffer(true);
  const RateGrant grant = s_.options.rate->Take(kReadAheadSize, s_.options.cancel);
  blocked_ms_ += grant.blocked_ms;
  if (grant.bytes > 0) return static_cast<int32_t>(grant.bytes);
  if (!Cancelled() && grant.let_go) {
    cancelled_ = true;
    end_ = FailReason::kCancelled;
  }
  return 0;
}

bool Transfer::Cancelled() {
  if (!cancelled_ && s_.options.cancel != nullptr && s_.options.cancel->load()) {
    cancelled_ = true;
    end_ = FailReason::kCancelled;
  }
  return cancelled_;
}

void Transfer::TakeBody(const std::uint8_t* data, size_t size) {
  if (framing_ == Framing::kChunked) {
    decoded_.clear();
    NoteExtra(size - chunked_.Feed(data, size, decoded_));
    buffer_.Copy(decoded_.data(), decoded_.size());
    Count(decoded_.size());
    if (chunked_.Failed()) {
      broken_ = true;
      end_ = FailReason::kMalformedBody;
    }
    return;
  }
  const size_t take = Clip(size);
  NoteExtra(size - take);
  buffer_.Copy(data, take);
  Count(take);
}

void Transfer::NoteExtra(size_t extra) {
  if (extra == 0) return;
  extra_ = true;
  extra_bytes_ = static_cast<int32_t>(extra);
}

// Counts body bytes taken; a body that runs past 2^63-1 or past the
// expected size is broken.
void Transfer::Count(size_t size) {
  const int64_t n = static_cast<int64_t>(size);
  const bool too_large = n > kMaxResourceSize - done_;
  done_ = too_large ? kMaxResourceSize : done_ + n;
  taken_ += n;
  if (s_.options.received_counter != nullptr) s_.options.received_counter->fetch_add(n);
  const int64_t expected = s_.options.expected_size;
  if (too_large) {
    broken_ = true;
    end_ = FailReason::kTooLarge;
  } else if (expected >= 0 && done_ > expected) {
    broken_ = true;
    end_ = FailReason::kSizeDiffers;
    s_.report.stated_size = done_;
  }
}

// How many of `size` new body bytes belong to the body: with an announced
// size the transfer ends there and any extra bytes are dropped.
size_t Transfer::Clip(size_t size) const {
  if (framing_ != Framing::kLength) return size;
  const int64_t left = total_ - done_;
  return static_cast<int64_t>(size) < left ? size : static_cast<size_t>(left);
}

bool Transfer::BodyComplete() const {
  switch (framing_) {
    case Framing::kLength: return done_ == total_;
    case Framing::kChunked: return chunked_.Finished();
    case Framing::kUntilClose: return false;
  }
  return false;
}

// The two rules a slow transfer must pass; true (the reason noted) when one
// of them ends it.
bool Transfer::Watched() {
  // The watches' clock leaves out the time the rate limit held the receives.
  const uint32_t now = s_.ticks() - blocked_ms_;
  const bool stalled = stall_.Stalled(received_, now);
  bool below_floor = false;
  if (!stalled && s_.options.floor_judges_run && s_.options.received_counter != nullptr) {
    const int64_t count = s_.options.received_counter->load();
    below_floor = floor_.Stalled(count - run_seen_, now);
    run_seen_ = count;
  } else if (!stalled) {
    below_floor = floor_.Stalled(received_, now);
  }
  if (!stalled && !below_floor) return false;
  const StallWatch& watch = stalled ? stall_ : floor_;
  end_ = stalled ? FailReason::kStalled : FailReason::kBelowFloorRate;
  s_.report.window_bytes = watch.StalledBytes();
  s_.report.wait_ms = watch.StalledMs();
  return true;
}

void Transfer::NoteReceiveEnd(int32_t wait_ms) {
  if (cancelled_) return;  // end_ says so already
  switch (s_.socket.LastReceiveFailure()) {
    case ReceiveFailure::kNone:
    case ReceiveFailure::kClosed:
      end_ = FailReason::kClosed;
      break;
    case ReceiveFailure::kTimedOut:
      end_ = headers_read_ || !head_.empty() ? FailReason::kTimedOut : FailReason::kNoAnswer;
      s_.report.wait_ms = static_cast<uint32_t>(wait_ms + waited_on_ms_);
      break;
    case ReceiveFailure::kError: {
      const int32_t error = TcpSocket::LastError();
      end_ = error == kErrorReset ? FailReason::kReset : FailReason::kReceiveFailed;
      s_.report.system_error = error;
      break;
    }
  }
}

void Transfer::NoteWriteFailure(const SinkResult& failure) {
  if (write_failed_) return;
  write_failed_ = true;
  write_failure_ = failure;
  if (failure.reason != FailReason::kCannotOpen) s_.report.system_error = failure.system_error;
}

// Writes what the buffer holds: all of it, or only what is due.
void Transfer::FlushBuffer(bool all) {
  if (all || buffer_.FlushDue(kReadAheadSize)) buffer_.Flush();
  if (buffer_.Failed()) NoteWriteFailure(buffer_.Failure());
}

void Transfer::Publish() { s_.done_out.store(done_); }

TransferEnd Transfer::Finish() {
  FlushBuffer(true);
  if (framing_ == Framing::kChunked && chunked_.Finished() && stated_total_ < 0) {
    total_ = done_;
    s_.total_out.store(total_);
  }
  s_.report.received = taken_;
  s_.sink.End();
  if (!s_.sink.Keeps()) return Done(DownloadResult::Ok, FailReason::kNone);
  // No head: the sink was never begun, and what it kept stays as it was for
  // the next try. Nothing counts as complete, not even an empty body.
  if (!headers_read_) return Done(DownloadResult::Interrupted, end_);
  if (write_failed_) {
    s_.sink.Drop();
    return Done(DownloadResult::WriteFailed, write_failure_.reason);
  }
  if (broken_) {
    s_.sink.Drop();
    return Done(DownloadResult::SizeMismatch, end_);
  }
  // Cancelled: what arrived is kept for a later call, as after a cut, even
  // where the body's end is not known.
  if (cancelled_) return Done(DownloadResult::Interrupted, FailReason::kCancelled);
  // Cut off before the end the answer announced: what arrived is a true
  // prefix of the resource, kept so that the next try asks for the rest.
  const int64_t size = done_;
  if (framing_ == Framing::kChunked && !chunked_.Finished()) return Done(DownloadResult::Interrupted, end_);
  if (framing_ == Framing::kLength && size >= 0 && size < total_) return Done(DownloadResult::Interrupted, end_);
  const int64_t expected = s_.options.expected_size;
  // A span ends at its last byte, short of the resource's end.
  if (size != total_ || (expected >= 0 && span_last_ < 0 && size != expected)) {
    s_.sink.Drop();
    s_.report.stated_size = size;
    return Done(DownloadResult::SizeMismatch, size != total_ ? FailReason::kSizeUnknown : FailReason::kSizeDiffers);
  }
  return Done(DownloadResult::Ok, FailReason::kNone);
}

TransferEnd Transfer::Done(DownloadResult result, FailReason reason) {
  s_.report.result = result;
  s_.report.reason = result == DownloadResult::Ok ? FailReason::kNone : reason;
  return TransferEnd::kDone;
}

}  // namespace net

#include "net/http_download.h"

#include <cstring>
#include <limits>
#include <string>

#include "net/chunked_decoder.h"
#include "net/download_target.h"
#include "net/download_url.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/numbered_name.h"
#include "net/proxy_route.h"
#include "net/socket_globals.h"
#include "net/stall_watch.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/proxy_settings.h"

namespace net {
namespace {

constexpr int64_t kMaxResourceSize = std::numeric_limits<int32_t>::max();

// How the end of the body is known.
enum class Framing {
  kLength,      // Content-Length
  kChunked,     // the last chunk
  kUntilClose,  // no Content-Length: the body runs until a receive fails
};

// Closes the shared socket on every way out of the call.
class CloseOnExit {
 public:
  explicit CloseOnExit(TcpSocket& socket) : socket_(socket) {}
  ~CloseOnExit() { socket_.Close(); }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  TcpSocket& socket_;
};

// The state of one call after the request went out: reading the head, then
// the body, then installing the file.
class Transfer {
 public:
  // Chooses the request form: a partial file left by an earlier call is
  // resumed from its size. The memory target never looks at a partial file.
  Transfer(TcpSocket& socket, DownloadTarget target, const DownloadOptions& options, bool via_proxy,
           std::atomic<int32_t>& total_out, std::atomic<int32_t>& done_out)
      : socket_(socket),
        target_(std::move(target)),
        total_out_(total_out),
        done_out_(done_out),
        flush_size_(options.flush_size > 0 ? static_cast<size_t>(options.flush_size) : kDefaultFlushSize),
        headers_only_(options.headers_only),
        via_proxy_(via_proxy) {
    const int64_t kept = target_.ResumableSize();
    resume_ = kept >= 0;
    range_start_ = resume_ ? kept : 0;
  }

  bool Resuming() const { return resume_; }
  int64_t RangeStart() const { return range_start_; }

  DownloadResult Receive();

 private:
  DownloadResult OnHeadBytes(const rt::Bytes& chunk, bool* body_started);
  // The head is not complete yet: wait for more, unless it is too long already.
  DownloadResult AwaitMoreHead() const {
    return head_.size() > kMaxHeaderBytes ? DownloadResult::BadStatus : DownloadResult::Ok;
  }
  DownloadResult OnRangeNotSatisfiable(size_t head_end);
  DownloadResult StartBody(const ResponseHead& head, size_t body_offset);
  bool ReceiveBody();
  void TakeBody(const std::uint8_t* data, size_t size);
  size_t Clip(size_t size) const;
  void AppendPending(const std::uint8_t* data, size_t size);
  void KeepView();
  size_t PendingSize() const { return pending_size_ + view_size_; }
  bool WritePending();
  bool BodyComplete() const;
  void Publish();
  DownloadResult Finish();

  TcpSocket& socket_;
  DownloadTarget target_;
  std::atomic<int32_t>& total_out_;
  std::atomic<int32_t>& done_out_;

  const size_t flush_size_;
  const bool headers_only_;
  const bool via_proxy_;

  bool resume_ = false;
  int64_t range_start_ = 0;
  // The resource's whole size as a 206 states it (-1: not stated); the body
  // must end there.
  int64_t stated_total_ = -1;
  // The call's result is known without a body (a 416 answered).
  bool settled_ = false;

  std::string head_;
  bool headers_read_ = false;
  Framing framing_ = Framing::kLength;
  ChunkedDecoder chunked_;
  bool broken_ = false;        // malformed body: the partial file is dropped
  bool write_failed_ = false;  // the partial file could not be opened or written
  // Bytes of the latest receive, head and framing included, for the stall watch.
  int64_t received_ = 0;
  StallWatch stall_{rt::TickCount()};

  // The engine's own counters; the shared ones are only stored to.
  int64_t total_ = 0;
  int64_t done_ = 0;

  // Body bytes not yet written: either the first pending_size_ bytes of
  // pending_, or a run of consecutive receive views (view_size_ bytes at
  // view_) still inside the socket's buffer, written from there without a
  // copy. At most one of the two is non-empty.
  rt::Bytes pending_;
  size_t pending_size_ = 0;
  const std::uint8_t* view_ = nullptr;
  size_t view_size_ = 0;
  rt::Bytes chunk_;
  rt::Bytes decoded_;
};

DownloadResult Transfer::Receive() {
  chunk_.reserve(kReceiveBufferSize);
  // Bounded: each round takes at least one byte, a receive waits at most
  // kReceiveWaitSeconds, and the body is bounded by the announced size (or by
  // kMaxResourceSize when no size is announced).
  while (true) {
    if (!headers_read_) {
      if (!socket_.Receive(chunk_, kReceiveWaitSeconds)) break;
      received_ = static_cast<int64_t>(chunk_.size());
      bool body_started = false;
      const DownloadResult result = OnHeadBytes(chunk_, &body_started);
      if (result != DownloadResult::Ok || settled_) return result;
      if (!body_started) {
        if (stall_.Stalled(received_, rt::TickCount())) break;
        continue;
      }
      if (headers_only_) return DownloadResult::Ok;
      // The body bytes of the head's receive are written at once.
      if (!WritePending()) write_failed_ = true;
    } else {
      if (!ReceiveBody()) break;
      if (PendingSize() >= flush_size_ && !WritePending()) write_failed_ = true;
    }
    Publish();
    if (broken_ || write_failed_ || BodyComplete()) break;
    if (stall_.Stalled(received_, rt::TickCount())) break;
    received_ = 0;
  }
  return Finish();
}

bool Transfer::ReceiveBody() {
  if (framing_ == Framing::kChunked) {
    if (!socket_.Receive(chunk_, kReceiveWaitSeconds)) return false;
    received_ = static_cast<int64_t>(chunk_.size());
    TakeBody(chunk_.data(), chunk_.size());
    return true;
  }
  // The next receive would refill the socket's buffer under the view.
  if (socket_.Buffered() == 0) KeepView();
  const std::uint8_t* data = nullptr;
  int32_t n = 0;
  if (!socket_.ReceiveView(&data, &n, kReceiveWaitSeconds)) return false;
  received_ = n;
  const size_t take = Clip(static_cast<size_t>(n));
  if (pending_size_ == 0 && (view_size_ == 0 || view_ + view_size_ == data)) {
    if (view_size_ == 0) view_ = data;
    view_size_ += take;
  } else {
    AppendPending(data, take);
  }
  done_ += static_cast<int64_t>(take);
  if (done_ > kMaxResourceSize) broken_ = true;
  return true;
}

DownloadResult Transfer::OnHeadBytes(const rt::Bytes& chunk, bool* body_started) {
  head_.append(chunk.begin(), chunk.end());
  if (CheckStatusLine(head_) == StatusCheck::kRefused) {
    const int code = StatusCodeOf(head_);
    // Not known yet: the bytes so far could still start a status line.
    if (code == 0) return AwaitMoreHead();
    // A proxy that wants credentials has its own result.
    if (via_proxy_ && code == 407) return DownloadResult::ProxyAuthRequired;
    // A 5xx is the server's trouble of the moment, worth another try.
    if (code >= 500 && code <= 599) return DownloadResult::ServerError;
    // A 416 to a resume says how large the resource is: read it whole.
    if (!resume_ || code != 416) return DownloadResult::BadStatus;
    const size_t end = FindHeaderEnd(head_);
    if (end == 0) return AwaitMoreHead();
    if (end > kMaxHeaderBytes) return DownloadResult::BadStatus;
    return OnRangeNotSatisfiable(end);
  }
  const size_t end = FindHeaderEnd(head_);
  if (end == 0) return AwaitMoreHead();
  ResponseHead head;
  if (end > kMaxHeaderBytes || !ParseResponseHead(head_.substr(0, end), &head)) {
    return DownloadResult::BadStatus;
  }
  const DownloadResult result = StartBody(head, end);
  *body_started = result == DownloadResult::Ok;
  return result;
}

// The range asked for starts at or past the end of the resource. When the
// partial file is exactly the resource ("bytes */N", N its size) it is
// complete: an earlier call received it all but could not install it. Any
// other partial file is stale (longer than the resource, or of another
// version): it goes, so that the next call starts from byte 0.
DownloadResult Transfer::OnRangeNotSatisfiable(size_t head_end) {
  settled_ = true;
  ResponseHead head;
  ParseRangeNotSatisfiable(head_.substr(0, head_end), &head);
  if (head.unsatisfied_complete < 0 || head.unsatisfied_complete != range_start_ ||
      headers_only_) {
    if (!headers_only_) target_.DropPartial();
    return DownloadResult::BadStatus;
  }
  total_ = range_start_;
  done_ = range_start_;
  total_out_.store(static_cast<int32_t>(total_));
  Publish();
  return target_.Install() ? DownloadResult::Ok : DownloadResult::InstallFailed;
}

DownloadResult Transfer::StartBody(const ResponseHead& head, size_t body_offset) {
  if (head.status == 206) {
    // Only the range that was asked for may be appended (a fresh request
    // asked for byte 0 on), and it must run to the end of the resource, with
    // a length that agrees with it: a shorter part would be installed as
    // the whole file.
    if (!head.content_range_valid || head.range_first != range_start_ || head.range_complete < 0 ||
        head.range_last != head.range_complete - 1) {
      return DownloadResult::BadStatus;
    }
    if (head.has_content_length && head.content_length_valid &&
        head.content_length != head.range_last - head.range_first + 1) {
      return DownloadResult::BadStatus;
    }
    stated_total_ = head.range_complete;
  } else if (resume_) {
    // The server sent the whole resource: start the partial file over.
    range_start_ = 0;
  }
  if (head.chunked) {
    framing_ = Framing::kChunked;
  } else if (head.has_content_length) {
    if (!head.content_length_valid) return DownloadResult::BadStatus;
    framing_ = Framing::kLength;
  } else {
    framing_ = Framing::kUntilClose;
  }
  const int64_t length = framing_ == Framing::kLength ? head.content_length : 0;
  if (range_start_ + length > kMaxResourceSize || stated_total_ > kMaxResourceSize) {
    return DownloadResult::BadStatus;
  }
  total_ = stated_total_ >= 0 ? stated_total_ : range_start_ + length;
  headers_read_ = true;
  // A chunked body's size is known only at its end.
  total_out_.store(framing_ == Framing::kChunked && stated_total_ < 0 && !headers_only_
                       ? 0
                       : static_cast<int32_t>(total_));
  if (headers_only_) return DownloadResult::Ok;

  if (!target_.Begin(resume_ && range_start_ == 0)) write_failed_ = true;
  done_ = range_start_;
  TakeBody(reinterpret_cast<const std::uint8_t*>(head_.data()) + body_offset,
           head_.size() - body_offset);
  std::string().swap(head_);
  return DownloadResult::Ok;
}

// How many of `size` new body bytes belong to the body: with an announced
// size the transfer ends there and any extra bytes are dropped.
size_t Transfer::Clip(size_t size) const {
  if (framing_ != Framing::kLength) return size;
  const int64_t left = total_ - done_;
  return static_cast<int64_t>(size) < left ? size : static_cast<size_t>(left);
}

void Transfer::AppendPending(const std::uint8_t* data, size_t size) {
  KeepView();
  if (size == 0) return;
  // pending_ only grows (to flushSize plus one receive): allocated once.
  if (pending_.size() < pending_size_ + size) pending_.resize(pending_size_ + size);
  std::memcpy(pending_.data() + pending_size_, data, size);
  pending_size_ += size;
}

// Copies the viewed bytes into pending_ before the socket's buffer is reused.
void Transfer::KeepView() {
  if (view_size_ == 0) return;
  const std::uint8_t* data = view_;
  const size_t size = view_size_;
  view_ = nullptr;
  view_size_ = 0;
  AppendPending(data, size);
}

void Transfer::TakeBody(const std::uint8_t* data, size_t size) {
  if (framing_ == Framing::kChunked) {
    decoded_.clear();
    chunked_.Feed(data, size, decoded_);
    AppendPending(decoded_.data(), decoded_.size());
    done_ += static_cast<int64_t>(decoded_.size());
    if (chunked_.Failed()) broken_ = true;
  } else {
    const size_t take = Clip(size);
    AppendPending(data, take);
    done_ += static_cast<int64_t>(take);
  }
  if (done_ > kMaxResourceSize) broken_ = true;
}

bool Transfer::WritePending() {
  const size_t size = PendingSize();
  if (size == 0) return true;
  const std::uint8_t* data = view_size_ != 0 ? view_ : pending_.data();
  const bool ok = target_.Append(data, size);
  pending_size_ = 0;
  view_ = nullptr;
  view_size_ = 0;
  return ok;
}

bool Transfer::BodyComplete() const {
  switch (framing_) {
    case Framing::kLength: return done_ == total_;
    case Framing::kChunked: return chunked_.Finished();
    case Framing::kUntilClose: return false;
  }
  return false;
}

void Transfer::Publish() {
  if (done_ <= kMaxResourceSize) done_out_.store(static_cast<int32_t>(done_));
}

DownloadResult Transfer::Finish() {
  if (!WritePending()) write_failed_ = true;
  if (framing_ == Framing::kChunked && chunked_.Finished() && stated_total_ < 0) {
    total_ = done_;
    total_out_.store(static_cast<int32_t>(total_));
  }
  if (target_.IsMemory()) return DownloadResult::Ok;
  target_.End();
  // No head: the partial file was never opened, and stays as it was for the
  // next try. Never install anything, not even an empty file.
  if (!headers_read_) return DownloadResult::Interrupted;
  if (write_failed_) {
    target_.DropPartial();
    return DownloadResult::WriteFailed;
  }
  if (broken_) {
    target_.DropPartial();
    return DownloadResult::SizeMismatch;
  }
  // Cut off before the end the answer announced: what arrived is a true
  // prefix of the resource, kept so that the next try asks for the rest.
  const int64_t size = target_.PartialSize();
  if (framing_ == Framing::kChunked && !chunked_.Finished()) return DownloadResult::Interrupted;
  if (framing_ == Framing::kLength && size >= 0 && size < total_) return DownloadResult::Interrupted;
  if (size != total_) {
    target_.DropPartial();
    return DownloadResult::SizeMismatch;
  }
  return target_.Install() ? DownloadResult::Ok : DownloadResult::InstallFailed;
}

}  // namespace

DownloadResult HttpDownload(const DownloadOptions& options, std::atomic<int32_t>& totalBytes,
                            std::atomic<int32_t>& doneBytes) {
  const DownloadUrl& url = options.url;
  // The route is chosen afresh for every file from the user's proxy setting.
  const std::optional<ProxyRoute> proxy = options.proxy.from_user_setting
                                              ? ChooseProxy(rt::ReadUserProxySettings(), url.host, url.port)
                                              : options.proxy.route;
  TcpSocket& socket = GlobalSocket();
  if (!socket.Create()) return DownloadResult::SocketFailed;
  const CloseOnExit close_on_exit(socket);
  if (!socket.Bind(0)) return DownloadResult::BindFailed;
  const bool connected = proxy ? socket.Connect(proxy->host, proxy->port) : socket.Connect(url.host, url.port);
  if (!connected) return DownloadResult::ConnectFailed;

  rt::Text save_path = options.save_path;
  if (options.rename_if_exists && !save_path.empty() && rt::FileExists(save_path)) {
    save_path = NumberedFreeName(save_path, url.file_name);
  }

  Transfer transfer(socket,
                    save_path.empty() ? DownloadTarget::Memory(options.body) : DownloadTarget::File(save_path),
                    options, proxy.has_value(), totalBytes, doneBytes);

  RequestFields fields;
  fields.path = url.path;
  if (proxy) fields.origin = "http://" + url.host_field;
  fields.host_field = url.host_field;
  fields.range_start = transfer.RangeStart();
  fields.cookie = options.cookie;
  const rt::Text request =
      BuildRequest(transfer.Resuming() ? RequestForm::kResume : RequestForm::kFresh, fields);
  if (!socket.Send(rt::ToBytes(request))) return DownloadResult::SendFailed;

  return transfer.Receive();
}

DownloadResult HttpDownload(const rt::Text& url, const rt::Text& savePath, std::atomic<int32_t>& totalBytes,
                            std::atomic<int32_t>& doneBytes, bool renameIfExists, int32_t flushSize,
                            bool headersOnly, const rt::Text& cookie, rt::Bytes* body) {
  DownloadOptions options(url, savePath);
  options.rename_if_exists = renameIfExists;
  options.flush_size = flushSize;
  options.headers_only = headersOnly;
  options.cookie = cookie;
  options.body = body;
  return HttpDownload(options, totalBytes, doneBytes);
}

}  // namespace net

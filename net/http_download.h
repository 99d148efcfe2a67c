#pragma once
// HttpDownload: one URL to one file (or memory buffer) over a TCP connection
// of our own with an HTTP/1.1 GET, resumable.
//
// A file is assembled in "<savePath>.tmp" and moved to savePath only when its
// size equals the size the server announced (or left there for the caller
// when `install` is off); a partial file found at the start is resumed with
// "Range: bytes=<its size>-". A transfer cut off before the announced end
// (the server closed, a receive wait ran out, less than the stall minimum
// arrived in a stall window, or the average fell below the floor rate) keeps
// what arrived in the partial file and reports Interrupted, so the next call
// resumes from there. The counters are published (stored) as the transfer
// goes and never read back: another thread may reset them while the call runs.
//
// Responses are read as HTTP/1.1 requires: the header block may arrive over
// several receives (up to kMaxHeaderBytes); header names in any case; status
// line HTTP/1.0 or HTTP/1.1 with a 2xx code; chunked bodies decoded; bytes
// beyond the announced length ignored. Sizes are 64-bit. Refused before
// anything is written, with BadStatus, partial file untouched: a non-2xx (a
// 5xx: ServerError) or malformed status line, an over-long header block, a
// Content-Length that is not a number in 0..2^63-1 (or makes the whole size
// exceed it), a whole size other than the expected one, a 206 whose
// Content-Range is missing, does not start at the range start, does not run
// to the end of the resource or disagrees with its Content-Length. A 200
// answer to a Range request restarts the partial file from byte 0. A call
// that received no complete header block leaves the partial file as it was,
// reports Interrupted, and never installs anything over the target. A
// partial file that cannot be written is deleted (WriteFailed); a malformed
// body, or one without a stated size that ends elsewhere, is deleted
// (SizeMismatch).
//
// A 416 to a resume whose "Content-Range: bytes */N" equals the partial
// file's size means the partial file is complete: it is installed without a
// body. Any other 416 to a resume means the partial file is stale (longer
// than the resource, or of another version): it is deleted and the file
// fetched from byte 0 in the same call. Installing is checked: a read-only
// target is made writable and replaced; a target that cannot be replaced
// (held open by another program) gives InstallFailed and keeps the complete
// partial file for the next call.
//
// Every call reports why it failed (DownloadReport). Calls on several
// threads at once each need a connection object of their own (or none):
// calls share nothing (the proxy setting is read afresh by each, every
// buffer belongs to the call or to its connection).
#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

#include "net/body_observer.h"
#include "net/download_report.h"
#include "net/download_result.h"
#include "net/download_url.h"
#include "net/http_connection.h"
#include "net/proxy_route.h"
#include "net/transfer_limits.h"
#include "runtime/types.h"

namespace net {

// Body bytes collected before each write when the caller gives 0 (or less).
constexpr int32_t kDefaultFlushSize = 10240;

// How a download reaches the server. By default the user's proxy setting
// decides afresh for every call (ClassifyProxy): through the HTTP proxy it
// names for the URL's host, if any, the whole URL then in the request line;
// a setting the engine cannot follow goes direct and says so in the report.
// A proxy that answers 407 gives ProxyAuthRequired.
struct ProxyUse {
  bool from_user_setting = true;
  std::optional<ProxyRoute> route;  // when not from the setting: this proxy, or none (direct)

  static ProxyUse UserSetting() { return ProxyUse(); }
  static ProxyUse Given(std::optional<ProxyRoute> route) { return ProxyUse{false, std::move(route)}; }
};

// One download. The URL is taken as pieces: split from its text by the
// first constructor, or built once by a caller that knows its site (see
// UrlBelow) and handed over as it is.
struct DownloadOptions {
  DownloadOptions(const rt::Text& url_text, const rt::Text& save_path)
      : url(SplitDownloadUrl(url_text)), save_path(save_path) {}
  DownloadOptions(DownloadUrl url, const rt::Text& save_path) : url(std::move(url)), save_path(save_path) {}

  DownloadUrl url;                         // "http://" host [":" port] "/" path, escaped
  rt::Text save_path;                      // the target file; empty: the memory target
  rt::Bytes* body = nullptr;               // memory target: receives the body (none: dropped)
  bool rename_if_exists = false;           // an existing target: pick a free numbered name
  int32_t flush_size = kDefaultFlushSize;  // body bytes collected before each write (0: default)
  bool headers_only = false;               // stop after the headers, the total size stored
  rt::Text cookie;                         // sent as a "Cookie: " header when not empty
  ProxyUse proxy;
  TransferLimits limits;                   // receive wait, stall rule, floor rate
  // Off: a complete file stays in its partial file and the result is Ok; the
  // caller verifies it and moves it into place.
  bool install = true;
  // The resource's whole size when the caller knows it (a signed list gives
  // sizes), -1 otherwise. An answer stating another size is refused before
  // anything is written, a body that runs past it is dropped, and a partial
  // file longer than it is dropped before the request.
  int64_t expected_size = -1;
  // Sees the body in file order (see BodyObserver); none when null.
  BodyObserver* observer = nullptr;
  // A connection kept across calls (see HttpConnection); null: a connection
  // of the call's own, closed when it ends.
  HttpConnection* connection = nullptr;
  // Set by another thread to end the call soon: looked at before the
  // request and between receives (each receive then waits in pieces of
  // kCancelPollMs). A cancelled call reports Interrupted (kCancelled) and
  // keeps its partial file, as a cut transfer does. None when null.
  const std::atomic<bool>* cancel = nullptr;
  // Every body byte this call receives is added here as it arrives (the
  // part a resume keeps is not: it arrived in an earlier call). Several
  // calls at once may add to one counter. None when null.
  std::atomic<int64_t>* received_counter = nullptr;
};

// totalBytes: the full size (a resumed part included), stored once the
// headers are read (a chunked body: when its last chunk arrives); left alone
// when the call fails before. doneBytes: the bytes present so far, stored
// after every receive. The memory target consults no partial file and its
// result is Ok once the transfer ends.
[[nodiscard]] DownloadReport HttpDownloadReport(const DownloadOptions& options, std::atomic<int64_t>& totalBytes,
                                                std::atomic<int64_t>& doneBytes);

// The same, the result alone.
[[nodiscard]] DownloadResult HttpDownload(const DownloadOptions& options, std::atomic<int64_t>& totalBytes,
                                          std::atomic<int64_t>& doneBytes);

}  // namespace net

#pragma once
// HttpDownload: one URL to one file (or memory buffer) over a TCP connection
// of our own with an HTTP/1.1 GET, resumable.
//
// A file is assembled in "<savePath>.tmp" and moved to savePath only when its
// size equals the size the server announced; a partial file found at the
// start is resumed with "Range: bytes=<its size>-". A transfer cut off before
// the announced end (the server closed, a receive wait ran out, or less than
// kStallMinBytes arrived in kStallWindowMs) keeps what arrived in the partial
// file and reports Interrupted, so the next call resumes from there. The
// counters are published (stored) as the transfer goes and never read back:
// another thread may reset them while the call runs.
//
// Responses are read as HTTP/1.1 requires: the header block may arrive over
// several receives (up to kMaxHeaderBytes); header names in any case; status
// line HTTP/1.0 or HTTP/1.1 with a 2xx code; chunked bodies decoded; bytes
// beyond the announced length ignored. Refused before anything is written,
// with BadStatus, partial file untouched: a non-2xx (a 5xx: ServerError) or
// malformed status line, an over-long header block, a Content-Length that is
// not a number in 0..2^31-1 (or makes the whole size exceed it), a 206 whose
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
// body. Any other 416 to a resume deletes the partial file (BadStatus), so
// the next call starts from byte 0. Installing is checked: a read-only
// target is made writable and replaced; a target that cannot be replaced
// (held open by another program) gives InstallFailed and keeps the complete
// partial file for the next call.
#include <atomic>
#include <cstdint>

#include "net/download_result.h"
#include "net/proxy_route.h"
#include "runtime/types.h"

namespace net {

// Body bytes collected before each write when the caller gives 0 (or less).
constexpr int32_t kDefaultFlushSize = 10240;
// Seconds one receive waits for data before the transfer counts as ended.
constexpr int32_t kReceiveWaitSeconds = 15;

// Returns a DownloadResult value. totalBytes: the full size (a resumed part
// included), stored once the headers are read (a chunked body: when its last
// chunk arrives); left alone when the call fails before. doneBytes: the bytes
// present so far, stored after every receive. An empty savePath selects the
// memory target: the body goes to *body (when given), no partial file is
// consulted and the result is Ok once the transfer ends.
int32_t HttpDownload(const rt::Text& url, const rt::Text& savePath, std::atomic<int32_t>& totalBytes,
                     std::atomic<int32_t>& doneBytes, bool renameIfExists = false,
                     int32_t flushSize = kDefaultFlushSize, bool headersOnly = false,
                     const rt::Text& cookie = rt::Text(), rt::Bytes* body = nullptr);

// HttpDownload goes through the HTTP proxy of the user's setting (see
// ChooseProxy) when there is one for the URL's host: it connects to the proxy
// and names the whole URL in the request line. A proxy that answers 407 gives
// ProxyAuthRequired. This form takes the route as given (no proxy: direct),
// with the other options at their defaults.
int32_t HttpDownloadThrough(const std::optional<ProxyRoute>& proxy, const rt::Text& url, const rt::Text& savePath,
                            std::atomic<int32_t>& totalBytes, std::atomic<int32_t>& doneBytes);

}  // namespace net

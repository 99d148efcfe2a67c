#pragma once
// HttpGet: one resource over a TCP connection of our own with an HTTP/1.1
// GET, its body handed to the caller's sink (see BodySink), resumable.
//
// A sink that keeps a part from an earlier call (a partial file) is resumed
// with "Range: bytes=<its size>-". A transfer cut off before the announced
// end (the server closed, a receive wait ran out, less than the stall
// minimum arrived in a stall window, or the average fell below the floor
// rate) leaves what arrived in the sink and reports Interrupted, so the next
// call resumes from there. The counters are published (stored) as the
// transfer goes and never read back: another thread may reset them while the
// call runs.
//
// Responses are read as HTTP/1.1 requires: the header block may arrive over
// several receives (up to kMaxHeaderBytes); header names in any case; status
// line HTTP/1.0 or HTTP/1.1 with a 2xx code; chunked bodies decoded; bytes
// beyond the announced length ignored. Sizes are 64-bit. Refused before
// anything is written, with BadStatus, the kept part untouched: a non-2xx (a
// 5xx: ServerError) or malformed status line, an over-long header block, a
// Content-Length that is not a number in 0..2^63-1 (or makes the whole size
// exceed it), a whole size other than the expected one, a 206 whose
// Content-Range is missing, does not start at the range start, does not run
// to the end of the resource or disagrees with its Content-Length. A 200
// answer to a Range request starts the sink over at byte 0. A call that
// received no complete header block leaves the kept part as it was and
// reports Interrupted. A sink that cannot be written is dropped
// (WriteFailed); a malformed body, or one without a stated size that ends
// elsewhere, is dropped (SizeMismatch). Ok means the sink holds the whole
// resource; the engine never moves anything into place.
//
// A 416 to a resume whose "Content-Range: bytes */N" equals the kept size
// means the kept part is complete: Ok without a body, kept_complete set. Any
// other 416 to a resume means the kept part is stale (longer than the
// resource, or of another version): it is dropped and the resource fetched
// from byte 0 in the same call.
//
// Every call reports why it failed (DownloadReport). Calls on several
// threads at once each need a connection object of their own (or none):
// calls share nothing (the proxy setting is read by each call unless the
// caller gives it, every buffer belongs to the call or to its connection).
#include <atomic>
#include <cstdint>

#include "net/body_sink.h"
#include "net/download_options.h"
#include "net/download_report.h"

namespace net {

// totalBytes: the full size (a resumed part included), stored once the
// headers are read (a chunked body: when its last chunk arrives); left alone
// when the call fails before. doneBytes: the bytes present so far, stored
// after every receive. A sink that keeps nothing across calls (memory) is Ok
// once the transfer ends.
[[nodiscard]] DownloadReport HttpGet(const DownloadOptions& options, BodySink& sink, std::atomic<int64_t>& totalBytes,
                                     std::atomic<int64_t>& doneBytes);

// Pipelining: sends the fresh request that HttpGet would send for `options`
// on the caller's connection now, before the answers to earlier requests
// have been read, when that connection is kept and goes to the server
// directly (never through a proxy). The HttpGet call with the same request
// bytes then reads its answer without sending. Such a call reports
// sent_ahead; when the connection closes before that answer's head, or the
// answer's size or range is not what the request asked for, it asks again
// on a new connection in the same call. The connection counts such closes
// (ClosesWithAhead), and notes an answer that was not its request's as the
// reason to send the server no more requests ahead (TakeTrouble). False
// when nothing was sent.
[[nodiscard]] bool SendAhead(const DownloadOptions& options);

}  // namespace net

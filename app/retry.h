#pragma once
// When a failed download or list fetch is worth another try, and the rules
// of one patch file's tries over the mirrors. Kept apart from the loops that
// use them, so that the decisions are tested as tables.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/download_report.h"
#include "net/download_result.h"
#include "runtime/fetch.h"

namespace app {

// Tries after the first one when a failure is transient, and the wait before
// each of them.
inline constexpr int32_t kMoreTries = 3;
inline constexpr int32_t kRetryWaitsMs[kMoreTries] = {1000, 2000, 4000};
// A file asks a mirror that turned its connection away again after this
// wait, at most kFreeTurnAways times; past that a refusal counts as a
// transient failure.
inline constexpr int32_t kTurnedAwayWaitMs = 500;
inline constexpr int32_t kFreeTurnAways = 8;
// A cut after at least this many body bytes reached the partial file uses no
// try: the same mirror goes on from there at once. Bounded by the file's
// size, as every such try moves it on.
inline constexpr int64_t kAdvancedCutBytes = 16384;

// A download result that another try may mend: no connection, the request not
// sent, the transfer cut off (the partial file keeps what arrived, so the next
// try resumes) or a 5xx answer. A 4xx, a wrong-offset answer and a failed
// write are final.
bool IsTransientDownload(net::DownloadResult result);
// The same for the list fetch: no connection, too slow, the answer cut off,
// or a 5xx (the fetch's own transient()).
bool IsTransientFetch(const rt::FetchResult& result);

// How one try of a patch file ended, as the rules over the mirrors see it.
enum class TryOutcome {
  kVerified,       // complete and the list's file: it may be installed
  kTransient,      // cut, refused, timed out, a 5xx: this mirror is worth another round
  kMismatch,       // a whole file arrived that is not the list's (dropped): this mirror is out
  kStaleMismatch,  // the same after resuming an earlier partial file, which may have been stale:
                   // this mirror is worth one fetch from byte 0
  kMirrorRefused,  // this mirror cannot give the file (a 4xx, a wrong offset or size, a broken body)
  kRunEnds,        // a failed write (a full disk): the run ends at once
  kCancelled,      // the run is ending: the try was cut short on purpose
  kTurnedAway,     // the server turned the connection away while fewer than the most connections
                   // were open (it allows fewer): the same mirror again soon, using no try
  kAdvanced,       // cut after kAdvancedCutBytes or more reached the partial file: the same mirror
                   // goes on from there at once, using no try
};
const char* ToString(TryOutcome outcome);

// `verified`: the file arrived whole and its verifier found it right.
// `resumed_bytes_used`: the file's first bytes came from a partial file kept
// from an earlier try (the server answered the range with 206 or 416).
TryOutcome ClassifyTry(const net::DownloadReport& report, bool verified, bool resumed_bytes_used);

// What one file does next.
struct NextTry {
  enum class Kind {
    kTry,           // try `mirror` now
    kWaitThenTry,   // wait `wait_ms`, then try `mirror`: retry `retry` of kMoreTries
    kGiveUp,        // no mirror is left worth a try: the file, and the run, fail
  };
  Kind kind = Kind::kGiveUp;
  size_t mirror = 0;       // index into the file's mirror order (PatchSite::FileMirrorOrder)
  bool drop_partial = false;  // a partial file present was written by another mirror: delete it first
  int32_t wait_ms = 0;
  int32_t retry = 0;
  bool operator==(const NextTry& o) const {
    return kind == o.kind && mirror == o.mirror && drop_partial == o.drop_partial && wait_ms == o.wait_ms &&
           retry == o.retry;
  }
};

// The tries of one patch file over its mirrors, one decision at a time.
//
// A round tries the mirrors in turn, moving on at once after any failure. A
// partial file is resumed only on the mirror that wrote it (one left by an
// earlier run counts as the first mirror's, the list's): every mirror serves
// the same bytes only in theory, and a wrong prefix from one would fail the
// whole file on the next. So moving to another mirror drops it, and a file
// that arrived but did not verify goes whole to the next mirror.
//
// When a round has found no file, the mirrors that failed on the way start
// another round after kRetryWaitsMs (at most kMoreTries more), the one whose
// bytes the partial file holds first; a mirror whose resumed file did not
// verify (the kept part may have been an older version) is given one fetch
// from byte 0 per file. Mirrors that refused the file or sent a wrong whole
// file are out. Bounded: at most mirrors x (1 + kMoreTries) + mirrors tries.
class MirrorTries {
 public:
  // `mirrors`: how many the file may come from (at least 1); `partial_kept`:
  // a partial file of an earlier run is present. `named_by_content`: the
  // resource's name is its SHA-256 (a form), so every mirror serves the same
  // bytes under it and a partial file is resumed on whichever mirror is tried
  // (its hash still judges the whole).
  MirrorTries(size_t mirrors, bool partial_kept, bool named_by_content = false);

  // The first try: the first mirror, resuming a partial file if there is one.
  NextTry First() const;
  // After the try that First or the last After named ended with `outcome`
  // (neither kVerified nor kRunEnds nor kCancelled, which end the file), with
  // a partial file left behind or not.
  NextTry After(TryOutcome outcome, bool partial_left);
  // Another mirror than the one just named may still give the file.
  bool OtherMirrorLeft() const;

  int32_t Retries() const { return retries_; }

 private:
  NextTry TryMirror(size_t mirror, NextTry::Kind kind) const;

  size_t mirrors_;
  bool named_by_content_;
  int32_t turned_away_ = 0;  // refusals that used no try
  std::vector<size_t> round_;  // the mirrors of this round, in order
  size_t at_ = 0;              // the one being tried
  std::vector<size_t> again_;  // failed on the way this round
  std::vector<size_t> stale_;  // a resumed file did not verify this round
  std::vector<bool> out_;      // refused the file or sent a wrong whole one
  static constexpr size_t kNoWriter = static_cast<size_t>(-1);
  size_t writer_ = kNoWriter;  // the mirror whose bytes the partial file holds
  int32_t retries_ = 0;
  bool restarted_ = false;  // a fetch from byte 0 after a resumed mismatch was given
};

}  // namespace app

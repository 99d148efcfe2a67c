#include "app/retry.h"

#include <algorithm>

#include "net/download_result.h"

namespace app {

bool IsTransientDownload(net::DownloadResult result) {
  switch (result) {
    case net::DownloadResult::ConnectFailed:
    case net::DownloadResult::SendFailed:
    case net::DownloadResult::Interrupted:
    case net::DownloadResult::ServerError:
      return true;
    default:
      return false;
  }
}

bool IsTransientFetch(const rt::FetchResult& result) { return result.transient(); }

const char* ToString(TryOutcome outcome) {
  switch (outcome) {
    case TryOutcome::kVerified: return "verified";
    case TryOutcome::kTransient: return "transient";
    case TryOutcome::kMismatch: return "mismatch";
    case TryOutcome::kStaleMismatch: return "stale mismatch";
    case TryOutcome::kMirrorRefused: return "mirror refused";
    case TryOutcome::kRunEnds: return "run ends";
    case TryOutcome::kCancelled: return "cancelled";
    case TryOutcome::kTurnedAway: return "turned away";
    case TryOutcome::kAdvanced: return "advanced";
  }
  return "unknown";
}

TryOutcome ClassifyTry(const net::DownloadReport& report, bool verified, bool resumed_bytes_used) {
  if (report.ok()) {
    if (verified) return TryOutcome::kVerified;
    return resumed_bytes_used ? TryOutcome::kStaleMismatch : TryOutcome::kMismatch;
  }
  if (report.reason == net::FailReason::kCancelled) return TryOutcome::kCancelled;
  if (report.result == net::DownloadResult::Interrupted && report.received >= kAdvancedCutBytes) {
    return TryOutcome::kAdvanced;
  }
  if (IsTransientDownload(report.result)) return TryOutcome::kTransient;
  switch (report.result) {
    case net::DownloadResult::WriteFailed:
    case net::DownloadResult::InstallFailed:
      return TryOutcome::kRunEnds;
    default:
      return TryOutcome::kMirrorRefused;
  }
}

MirrorTries::MirrorTries(size_t mirrors, bool partial_kept, bool named_by_content)
    : mirrors_(mirrors < 1 ? 1 : mirrors), named_by_content_(named_by_content), out_(mirrors_, false) {
  for (size_t m = 0; m < mirrors_; ++m) round_.push_back(m);
  if (partial_kept) writer_ = 0;
}

NextTry MirrorTries::TryMirror(size_t mirror, NextTry::Kind kind) const {
  NextTry next;
  next.kind = kind;
  next.mirror = mirror;
  next.drop_partial = !named_by_content_ && writer_ != kNoWriter && writer_ != mirror;
  return next;
}

NextTry MirrorTries::First() const { return TryMirror(round_.front(), NextTry::Kind::kTry); }

NextTry MirrorTries::After(TryOutcome outcome, bool partial_left) {
  const size_t mirror = round_[at_];
  if (outcome == TryOutcome::kAdvanced) {
    if (partial_left) {
      writer_ = mirror;
      return TryMirror(mirror, NextTry::Kind::kTry);
    }
    outcome = TryOutcome::kTransient;
  }
  if (outcome == TryOutcome::kMirrorRefused || outcome == TryOutcome::kMismatch) out_[mirror] = true;
  if (outcome == TryOutcome::kTurnedAway) {
    if (turned_away_ < kFreeTurnAways) {
      ++turned_away_;
      writer_ = partial_left ? mirror : kNoWriter;
      NextTry again = TryMirror(mirror, NextTry::Kind::kWaitThenTry);
      again.wait_ms = kTurnedAwayWaitMs;
      return again;
    }
    outcome = TryOutcome::kTransient;
  }
  // Whatever partial file is left now, this mirror wrote it (another's was
  // dropped before the try).
  writer_ = partial_left ? mirror : kNoWriter;
  if (outcome == TryOutcome::kTransient) again_.push_back(mirror);
  if (outcome == TryOutcome::kStaleMismatch) stale_.push_back(mirror);
  if (++at_ < round_.size()) return TryMirror(round_[at_], NextTry::Kind::kTry);

  // The round is over. The next one: the mirrors worth another try, in
  // their order, the partial file's writer first.
  const bool restart = !stale_.empty() && !restarted_;
  std::vector<size_t> next = again_;
  if (restart) next.insert(next.end(), stale_.begin(), stale_.end());
  std::sort(next.begin(), next.end());
  next.erase(std::unique(next.begin(), next.end()), next.end());
  const auto writer = std::find(next.begin(), next.end(), writer_);
  if (writer != next.end()) std::rotate(next.begin(), writer, writer + 1);

  NextTry::Kind kind = NextTry::Kind::kTry;
  int32_t wait_ms = 0;
  if (!again_.empty() && retries_ < kMoreTries) {
    kind = NextTry::Kind::kWaitThenTry;
    wait_ms = kRetryWaitsMs[retries_];
    ++retries_;
  } else if (restart) {
    next = stale_;  // no wait: nothing failed on the way
  } else {
    return NextTry{};
  }
  if (restart) restarted_ = true;
  round_ = next;
  at_ = 0;
  again_.clear();
  stale_.clear();
  NextTry first = TryMirror(round_.front(), kind);
  first.wait_ms = wait_ms;
  first.retry = kind == NextTry::Kind::kWaitThenTry ? retries_ : 0;
  return first;
}

bool MirrorTries::OtherMirrorLeft() const {
  const size_t current = round_[at_];
  for (size_t m = 0; m < mirrors_; ++m) {
    if (m != current && !out_[m]) return true;
  }
  return false;
}

}  // namespace app

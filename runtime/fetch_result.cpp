// The portable parts of the whole-body fetch: how its results read.
#include "runtime/fetch.h"

namespace rt {

bool FetchResult::transient() const {
  switch (outcome) {
    case FetchOutcome::kUnreachable:
    case FetchOutcome::kTimedOut:
    case FetchOutcome::kStalled:
    case FetchOutcome::kTooSlow:
    case FetchOutcome::kCutShort: return true;
    case FetchOutcome::kHttpError: return status >= 500 && status <= 599;
    case FetchOutcome::kOk:
    case FetchOutcome::kBadUrl:
    case FetchOutcome::kTooLarge: return false;
  }
  return false;
}

const char* ToString(FetchOutcome outcome) {
  switch (outcome) {
    case FetchOutcome::kOk: return "Ok";
    case FetchOutcome::kBadUrl: return "BadUrl";
    case FetchOutcome::kUnreachable: return "Unreachable";
    case FetchOutcome::kTimedOut: return "TimedOut";
    case FetchOutcome::kStalled: return "Stalled";
    case FetchOutcome::kTooSlow: return "TooSlow";
    case FetchOutcome::kCutShort: return "CutShort";
    case FetchOutcome::kHttpError: return "HttpError";
    case FetchOutcome::kTooLarge: return "TooLarge";
  }
  return "Unknown";
}

}  // namespace rt

#pragma once
// When a failed download or list fetch is worth another try, and what
// follows each try of a patch file. Kept apart from the loops that use them,
// so that the decisions are tested as tables.
#include <cstdint>

#include "net/download_result.h"
#include "runtime/fetch.h"

namespace app {

// Tries after the first one when a failure is transient, and the wait before
// each of them.
inline constexpr int32_t kMoreTries = 3;
inline constexpr int32_t kRetryWaitsMs[kMoreTries] = {1000, 2000, 4000};

// A download result that another try may mend: no connection, the request not
// sent, the transfer cut off (the partial file keeps what arrived, so the next
// try resumes) or a 5xx answer. A 4xx, a wrong-offset answer and a failed
// write are final.
bool IsTransientDownload(net::DownloadResult result);
// The same for the list fetch: no connection, too slow, the answer cut off,
// or a 5xx (the fetch's own transient()).
bool IsTransientFetch(const rt::FetchResult& result);

// What follows one try of a patch file.
enum class NextStep {
  kDone,             // in place and matching its list checksum
  kRetry,            // wait kRetryWaitsMs[tries_used], then try again (resuming)
  kRestartFromZero,  // drop what arrived and fetch the whole file again
  kFail,             // the run fails
};

struct FileTries {
  int32_t retries = 0;     // transient retries used so far
  bool restarted = false;  // the whole file was fetched again after a mismatch
};

// `resumed`: the try continued a partial file left by an earlier one. A
// checksum mismatch after a resume may come from a partial file of an older
// version of the file, so the file is fetched once more from byte 0; after a
// whole fetch it is final.
NextStep NextAttempt(net::DownloadResult result, bool checksum_ok, bool resumed, const FileTries& tries);

}  // namespace app

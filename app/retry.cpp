#include "app/retry.h"

#include "net/download_result.h"

namespace app {

bool IsTransientDownload(int32_t result) {
  switch (static_cast<net::DownloadResult>(result)) {
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

NextStep NextAttempt(int32_t result, bool checksum_ok, bool resumed, const FileTries& tries) {
  if (result == static_cast<int32_t>(net::DownloadResult::Ok)) {
    if (checksum_ok) return NextStep::kDone;
    return resumed && !tries.restarted ? NextStep::kRestartFromZero : NextStep::kFail;
  }
  if (IsTransientDownload(result) && tries.retries < kMoreTries) return NextStep::kRetry;
  return NextStep::kFail;
}

}  // namespace app

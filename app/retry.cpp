#include "app/retry.h"

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

NextStep NextAttempt(net::DownloadResult result, bool checksum_ok, bool resumed, const FileTries& tries) {
  if (result == net::DownloadResult::Ok) {
    if (checksum_ok) return NextStep::kDone;
    return resumed && !tries.restarted ? NextStep::kRestartFromZero : NextStep::kFail;
  }
  if (IsTransientDownload(result) && tries.retries < kMoreTries) return NextStep::kRetry;
  return NextStep::kFail;
}

}  // namespace app

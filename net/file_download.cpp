#include "net/file_download.h"

#include "net/http_download.h"
#include "net/numbered_name.h"
#include "net/partial_file.h"
#include "runtime/files.h"

namespace net {

DownloadReport HttpDownloadReport(const FileDownload& download, std::atomic<int64_t>& totalBytes,
                                  std::atomic<int64_t>& doneBytes) {
  if (download.save_path.empty()) {
    MemorySink memory(download.body);
    return HttpGet(download, memory, totalBytes, doneBytes);
  }
  rt::Text save_path = download.save_path;
  if (download.rename_if_exists && rt::FileExists(save_path)) {
    save_path = NumberedFreeName(save_path, download.url.file_name);
  }
  PartialFile partial(save_path + download.partial_suffix, download.headers_only ? nullptr : download.next);
  DownloadReport report = HttpGet(download, partial, totalBytes, doneBytes);
  if (!report.ok() || download.headers_only || !download.install) return report;
  rt::MakeWritable(save_path);
  rt::RemoveFile(save_path);  // absent is fine; a failure shows in the move
  if (!rt::MoveFile(partial.Path(), save_path)) {
    report.result = DownloadResult::InstallFailed;
    report.reason = FailReason::kCannotInstall;
  }
  return report;
}

DownloadResult HttpDownload(const FileDownload& download, std::atomic<int64_t>& totalBytes,
                            std::atomic<int64_t>& doneBytes) {
  return HttpDownloadReport(download, totalBytes, doneBytes).result;
}

}  // namespace net

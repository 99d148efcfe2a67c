#pragma once
// FileDownload: a whole file fetched to a path, for callers that want the
// file in place and nothing more (patchtool's fetch): a caller of HttpGet
// that builds the chain itself. The body is assembled in the partial file
// the caller names (the save path with the caller's suffix) and moved over
// the save path once complete, or left there for the caller (install off).
// The partial file outlives a cut call so that the next one resumes it. A
// read-only target is made writable and replaced; a target that cannot be
// replaced (held open by another program) gives InstallFailed and keeps the
// complete partial file for the next call. An empty save path collects the
// body in memory (`body`; none: dropped).
#include <atomic>
#include <cstdint>
#include <utility>

#include "net/body_sink.h"
#include "net/download_options.h"
#include "net/download_report.h"
#include "net/download_result.h"
#include "runtime/types.h"

namespace net {

struct FileDownload : DownloadOptions {
  FileDownload(const rt::Text& url_text, const rt::Text& save_path, const rt::Text& partial_suffix)
      : DownloadOptions(url_text), save_path(save_path), partial_suffix(partial_suffix) {}
  FileDownload(DownloadUrl url, const rt::Text& save_path, const rt::Text& partial_suffix)
      : DownloadOptions(std::move(url)), save_path(save_path), partial_suffix(partial_suffix) {}

  rt::Text save_path;              // the target file; empty: the memory target
  rt::Text partial_suffix;         // appended to the save path for the partial file
  rt::Bytes* body = nullptr;       // memory target: receives the body (none: dropped)
  bool rename_if_exists = false;   // an existing target: pick a free numbered name
  bool install = true;             // off: a complete file stays in its partial file
  BodySink* next = nullptr;        // shown the file from byte 0 as it is written; none when null
};

[[nodiscard]] DownloadReport HttpDownloadReport(const FileDownload& download, std::atomic<int64_t>& totalBytes,
                                                std::atomic<int64_t>& doneBytes);

// The same, the result alone.
[[nodiscard]] DownloadResult HttpDownload(const FileDownload& download, std::atomic<int64_t>& totalBytes,
                                          std::atomic<int64_t>& doneBytes);

}  // namespace net

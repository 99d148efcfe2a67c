#pragma once
// The download run's lines in update.log, and the one writer the run's
// threads share. The lines a reader looks for:
//
//   download run: 300 files, 6 at once
//   file data\a.pak: result 0 (Ok), 8192 bytes, 0.05 s, 160.00 KB/s, checksum ok,
//       mirror http://host/, connection 3 reused
//   file data\b.pak: result 8 (Interrupted), 1200 bytes from offset 4096, 15.01 s,
//       0.08 KB/s, reset after 1200 bytes, mirror http://host/, connection 2 new
//   installed data\a.pak (8192 bytes)
//   download run done: 300 files in 2.61 s; restart 启动器.exe
//
// (each on one line). The last gives the time from the run's start to its
// last file in.
#include <cstdint>
#include <functional>
#include <optional>

#include "app/run/file_verifier.h"
#include "net/download_report.h"
#include "runtime/lock.h"
#include "runtime/types.h"

namespace app {

// One try of a file, as its log line says it.
struct TryLine {
  rt::Text path;    // the entry as listed
  rt::Text mirror;  // the base URL it was asked from
  net::DownloadReport report;
  uint32_t ms = 0;                     // how long the try took
  bool has_digest = false;             // the list gave the file's size and SHA-256
  std::optional<FileVerdict> verdict;  // the check of a file that arrived whole
  bool form = false;                   // a form of the file: checked by its size and SHA-256 alone
};

// "file <path>: result <n> (<name>), <bytes> bytes[ from offset <o>], <s> s,
// <k> KB/s[, checksum ok[, size and SHA-256 ok] | , MISMATCH: <why>][,
// <reason>], mirror <url>[, connection <id> new|reused][, proxy setting not
// followed: <what>]"
rt::Text FormatTryLine(const TryLine& line);
rt::Text FormatInstalledLine(const rt::Text& path, int64_t bytes);
rt::Text FormatRunStartLine(int32_t files, int32_t at_once);
rt::Text FormatRunDoneLine(int32_t files, uint32_t ms, const rt::Text& restart);

// The run's writer of update.log: one line at a time, whichever thread
// writes it.
class RunLog {
 public:
  explicit RunLog(std::function<void(const rt::Text&)> write) : write_(std::move(write)) {}
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  void Line(const rt::Text& line);

 private:
  std::function<void(const rt::Text&)> write_;
  rt::Lock lock_;
};

}  // namespace app

#pragma once
// Progress of a long command (manifest, publish, verify over a client of
// tens of GB) on one line of the terminal: files and bytes done, the rate and
// the time left, redrawn in place. Nothing at all when standard error is not
// a terminal, so logs and pipes get the summary lines only.
#include <chrono>
#include <cstdint>
#include <string>

namespace patchtool {

struct ProgressCounts {
  int64_t files_done = 0;
  int64_t files_total = 0;
  int64_t bytes_done = 0;
  int64_t bytes_total = 0;
  double seconds = 0;  // since the work began
  bool finished = false;
};

// "checksums: 120/20000 files, 1.2/45.0 GiB, 210.5 MiB/s, 3 min 29 s left".
// The rate and the time left wait for a quarter of a second of work ("--");
// a finished phase gives its rate and "done in 12 s".
std::string ProgressText(const std::string& what, const ProgressCounts& counts);

// A byte count in the unit that suits `scale` (B, KiB, MiB, GiB), one decimal
// above bytes: the done and total counts of one line share the total's unit.
std::string ByteAmount(int64_t bytes, int64_t scale);
// "12 s", "3 min 29 s", "2 h 05 min".
std::string Duration(double seconds);

// Least time between two redraws of the line.
constexpr auto kProgressRedraw = std::chrono::milliseconds(200);

// One phase of a command. Shown only on a terminal (ProgressShown); the
// line is redrawn at most every kProgressRedraw and finished with its final
// counts when the phase ends.
class Progress {
 public:
  Progress(std::string what, int64_t files_total, int64_t bytes_total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Bytes of the current file worked through.
  void AddBytes(int64_t bytes);
  // The current file's bytes count from 0 again (read once to compare, now
  // copied).
  void RestartFile();
  // The current file is done; its bytes now count `size` in all.
  void FileDone(int64_t size);

 private:
  void Draw(bool last);

  const std::string what_;
  const bool shown_;
  ProgressCounts counts_;
  int64_t file_bytes_ = 0;  // of the current file, so far
  const std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point drawn_;
};

}  // namespace patchtool

#include "tools/patchtool/progress.h"

#include <cstdio>
#include <utility>

#include "tools/patchtool/console.h"

namespace patchtool {
namespace {

// Before this much work the rate says little.
constexpr double kSteadySeconds = 0.25;

}  // namespace

std::string ByteAmount(int64_t bytes, int64_t scale) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB"};
  if (scale < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  double top = static_cast<double>(scale) / 1024.0;
  size_t unit = 0;
  while (top >= 1024.0 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024.0;
    top /= 1024.0;
    ++unit;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string Duration(double seconds) {
  const int64_t whole = seconds < 0 ? 0 : static_cast<int64_t>(seconds + 0.5);
  char text[48];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(whole));
  } else if (whole < 3600) {
    std::snprintf(text, sizeof text, "%lld min %lld s", static_cast<long long>(whole / 60),
                  static_cast<long long>(whole % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld h %02lld min", static_cast<long long>(whole / 3600),
                  static_cast<long long>(whole / 60 % 60));
  }
  return text;
}

std::string ProgressText(const std::string& what, const ProgressCounts& c) {
  std::string text = what + ": " + std::to_string(c.files_done) + "/" + std::to_string(c.files_total) + " files, ";
  // "1.2/45.0 GiB": the done count in the total's unit.
  const std::string total = ByteAmount(c.bytes_total, c.bytes_total);
  const std::string done = ByteAmount(c.bytes_done, c.bytes_total);
  text += done.substr(0, done.find(' ')) + "/" + total + ", ";
  const bool steady = c.seconds >= kSteadySeconds || (c.finished && c.seconds > 0);
  if (!steady || c.bytes_done <= 0) return text + "-- MiB/s, " + (c.finished ? "done" : "-- left");
  const double rate = static_cast<double>(c.bytes_done) / c.seconds;
  char speed[48];
  std::snprintf(speed, sizeof speed, "%.1f MiB/s", rate / (1024.0 * 1024.0));
  if (c.finished) return text + speed + ", done in " + Duration(c.seconds);
  const int64_t left = c.bytes_total > c.bytes_done ? c.bytes_total - c.bytes_done : 0;
  return text + speed + ", " + Duration(static_cast<double>(left) / rate) + " left";
}

Progress::Progress(std::string what, int64_t files_total, int64_t bytes_total)
    : what_(std::move(what)), shown_(ProgressShown()), started_(std::chrono::steady_clock::now()) {
  counts_.files_total = files_total;
  counts_.bytes_total = bytes_total;
  drawn_ = started_;
  if (shown_) Draw(false);
}

Progress::~Progress() {
  if (shown_) Draw(true);
}

void Progress::AddBytes(int64_t bytes) {
  file_bytes_ += bytes;
  counts_.bytes_done += bytes;
  if (shown_ && std::chrono::steady_clock::now() - drawn_ >= kProgressRedraw) Draw(false);
}

void Progress::RestartFile() {
  counts_.bytes_done -= file_bytes_;
  file_bytes_ = 0;
}

void Progress::FileDone(int64_t size) {
  counts_.bytes_done += size - file_bytes_;
  file_bytes_ = 0;
  ++counts_.files_done;
  if (shown_ && std::chrono::steady_clock::now() - drawn_ >= kProgressRedraw) Draw(false);
}

void Progress::Draw(bool last) {
  drawn_ = std::chrono::steady_clock::now();
  counts_.seconds = std::chrono::duration<double>(drawn_ - started_).count();
  counts_.finished = last;
  ShowProgress(ProgressText(what_, counts_), last);
}

}  // namespace patchtool

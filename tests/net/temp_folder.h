#pragma once
// A fresh folder under the current folder for one test, removed afterwards.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

#include "runtime/bytes.h"
#include "runtime/files.h"

namespace nettest {

// Distinguishes runs of the native and the Windows test binary that share a
// build folder.
inline long ProcessStamp() {
  static const long stamp =
      static_cast<long>(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
  return stamp;
}

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    path_ = "net_test_tmp_" + std::to_string(ProcessStamp()) + "_" + std::to_string(counter++);
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // A path inside the folder (ASCII names only).
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadText(const std::string& path) {
  const rt::Bytes bytes = rt::ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

inline void WriteText(const std::string& path, const std::string& text) {
  rt::WriteWholeFile(path, rt::Bytes(text.begin(), text.end()));
}

}  // namespace nettest

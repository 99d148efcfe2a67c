#pragma once
// A fresh folder under the current folder for one test, removed afterwards.
// Its name is new for every folder of every run, so neither an earlier run
// nor the native and Windows test binaries sharing a build folder interfere.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

namespace testsupport {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    static const long long stamp =
        static_cast<long long>(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
    static std::atomic<int> counter{0};
    path_ = prefix + "_" + std::to_string(stamp) + "_" + std::to_string(counter++);
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // A path inside the folder.
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace testsupport

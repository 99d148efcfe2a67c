#pragma once
// The plan of a download run: which file goes next, how far each file is,
// and what the window shows of them. The transfers claim files in list order
// and record their progress here; the run's own thread reads it to publish
// the progress. Every field shared between threads is atomic.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "runtime/lock.h"

namespace app {

enum class FileState : int32_t {
  kWaiting,    // not claimed yet
  kActive,     // a transfer fetches it (or waits before another try)
  kInstalled,  // verified and in place
  kFailed,     // its tries failed (a stopped try puts it back to waiting)
};

// One file of the run as its transfer reports it.
struct FileRecord {
  std::atomic<FileState> state{FileState::kWaiting};
  // The engine's counters of the current try: the file's whole size once
  // known, and the bytes present so far (a resumed part included).
  std::atomic<int64_t> total{0};
  std::atomic<int64_t> done{0};
  // Raised at the start of every try: the window starts the file's bar over.
  std::atomic<int32_t> try_number{0};
  // While the file waits before another try: which retry it waits for
  // (n of "n/kMoreTries"); 0 otherwise.
  std::atomic<int32_t> retry_wait{0};
  // The room check found no partial file of it, and no try of this run has
  // begun one yet: its first try and a request sent ahead for it need no
  // look-up of that name.
  std::atomic<bool> partial_absent{false};
};

// "[n/m]": n counts the finished files and the one shown, so it is one more
// than the files finished while any remain (the first file is 1 of m), and m
// once every file is in.
[[nodiscard]] int32_t ShownNumber(int32_t finished, int32_t count);

class RunPlan {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  explicit RunPlan(size_t files);
  RunPlan(const RunPlan&) = delete;
  RunPlan& operator=(const RunPlan&) = delete;

  size_t Files() const { return files_; }
  FileRecord& File(size_t index) { return records_[index]; }
  const FileRecord& File(size_t index) const { return records_[index]; }

  // The next waiting file, in list order, marked active; kNone when no file
  // waits.
  size_t Claim();
  // The file is in place, or its tries failed.
  void Installed(size_t index);
  void Failed(size_t index);
  // Its try was stopped with the run: it waits again, to be claimed anew.
  void Release(size_t index);
  // Some file waits to be claimed.
  bool AnyWaiting();
  int32_t InstalledCount() const { return installed_.load(); }
  bool AllInstalled() const { return static_cast<size_t>(installed_.load()) == files_; }

  // The file the window shows: the first one in list order that is not in
  // place yet; kNone when all are. Files are in place for good, so the
  // search goes on from where it stopped last time.
  size_t Shown();

 private:
  const size_t files_;
  std::unique_ptr<FileRecord[]> records_;
  rt::Lock lock_;
  size_t next_ = 0;  // no file before it waits; guarded by lock_
  std::atomic<int32_t> installed_{0};
  size_t shown_ = 0;  // read by the run's thread only
};

}  // namespace app

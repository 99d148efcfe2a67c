#include "app/run/run_plan.h"

#include <mutex>

namespace app {

int32_t ShownNumber(int32_t finished, int32_t count) { return finished < count ? finished + 1 : count; }

RunPlan::RunPlan(size_t files) : files_(files), records_(new FileRecord[files]) {}

size_t RunPlan::Claim() {
  std::lock_guard<rt::Lock> hold(lock_);
  // Bounded by the file count: next_ only moves forward here.
  while (next_ < files_ && records_[next_].state.load() != FileState::kWaiting) ++next_;
  if (next_ >= files_) return kNone;
  records_[next_].state.store(FileState::kActive);
  return next_++;
}

void RunPlan::Installed(size_t index) {
  records_[index].state.store(FileState::kInstalled);
  installed_.fetch_add(1);
}

void RunPlan::Failed(size_t index) { records_[index].state.store(FileState::kFailed); }

void RunPlan::Release(size_t index) {
  std::lock_guard<rt::Lock> hold(lock_);
  records_[index].state.store(FileState::kWaiting);
  if (index < next_) next_ = index;
}

bool RunPlan::AnyWaiting() {
  std::lock_guard<rt::Lock> hold(lock_);
  for (size_t i = next_; i < files_; ++i) {
    if (records_[i].state.load() == FileState::kWaiting) return true;
  }
  return false;
}

size_t RunPlan::Shown() {
  while (shown_ < files_ && records_[shown_].state.load() == FileState::kInstalled) ++shown_;
  return shown_ < files_ ? shown_ : kNone;
}

}  // namespace app

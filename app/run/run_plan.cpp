#include "app/run/run_plan.h"

namespace app {

int32_t ShownNumber(int32_t finished, int32_t count) { return finished < count ? finished + 1 : count; }

RunPlan::RunPlan(size_t files) : files_(files), records_(new FileRecord[files]) {}

size_t RunPlan::Claim() {
  // Each claim takes one number; numbers past the end claim nothing.
  const size_t index = next_.fetch_add(1);
  if (index >= files_) return kNone;
  records_[index].state.store(FileState::kActive);
  return index;
}

void RunPlan::Installed(size_t index) {
  records_[index].state.store(FileState::kInstalled);
  installed_.fetch_add(1);
}

void RunPlan::Failed(size_t index) { records_[index].state.store(FileState::kFailed); }

size_t RunPlan::Shown() {
  while (shown_ < files_ && records_[shown_].state.load() == FileState::kInstalled) ++shown_;
  return shown_ < files_ ? shown_ : kNone;
}

}  // namespace app

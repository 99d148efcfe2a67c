#include "app/run/transfer_slot.h"

#include "runtime/thread.h"

namespace app {

TransferSlot::TransferSlot(RunContext& run, int32_t number) : run_(run) {
  const int32_t mirrors = static_cast<int32_t>(run.mirrors.size());
  for (int32_t m = 0; m < mirrors; ++m) {
    connections_.push_back(std::make_unique<net::HttpConnection>(number * mirrors + m + 1));
  }
}

// No handle is kept: the run waits for Ended(), the thread's last touch.
bool TransferSlot::Start() { return rt::StartThread(Body, this); }

void TransferSlot::Body(void* slot) { static_cast<TransferSlot*>(slot)->Work(); }

void TransferSlot::Work() {
  // Bounded: every round claims one more file, and there are finitely many.
  while (!run_.cancel.load()) {
    const size_t index = run_.plan.Claim();
    if (index == RunPlan::kNone) break;
    if (!FetchFile(run_, index, connections_)) run_.plan.Failed(index);
  }
  for (auto& connection : connections_) connection->Close();
  ended_.store(true);
}

}  // namespace app

#include "app/run/transfer_slot.h"

#include "app/run/send_ahead.h"
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
  {
    AheadQueue queue(run_, connections_);
    // Bounded: every round ends one claimed file, and a file claimed again
    // was released by a stopped run, which this loop then leaves. A paused
    // run keeps its transfers: their tries wait for the resume.
    while (!run_.stop.load()) {
      const size_t index = queue.Next();
      if (index == RunPlan::kNone) break;
      switch (BringFile(run_, index, connections_)) {
        case FileEnd::kInstalled: break;
        case FileEnd::kFailed: run_.plan.Failed(index); break;
        case FileEnd::kStopped: run_.plan.Release(index); break;
      }
      queue.SendAhead();
    }
    // The queue gives back the files it claimed ahead before the transfer ends.
  }
  for (auto& connection : connections_) connection->Close();
  ended_.store(true);
}

}  // namespace app

#pragma once
// A transfer of the download run: a thread of its own that takes the run's
// files in list order, one at a time, with its own connections (one per
// mirror) kept from one file to the next, until no file is left or the run
// stops. Its memory is bounded: one engine call at a time, each connection's
// read-ahead buffer and the engine's small-piece buffer, whatever the files'
// sizes.
#include <atomic>
#include <cstdint>

#include "app/run/file_tries.h"
#include "app/run/run_context.h"

namespace app {

class TransferSlot {
 public:
  // `number` (0, 1, ...) names its connections in the log: connection
  // number x mirrors + mirror + 1.
  TransferSlot(RunContext& run, int32_t number);
  TransferSlot(const TransferSlot&) = delete;
  TransferSlot& operator=(const TransferSlot&) = delete;

  // Starts the thread; false when it could not be made.
  [[nodiscard]] bool Start();
  // The same work on the calling thread.
  void RunHere() { Work(); }
  // The thread has stopped and touches nothing of the run any more.
  bool Ended() const { return ended_.load(); }

 private:
  static void Body(void* slot);
  void Work();

  RunContext& run_;
  MirrorConnections connections_;
  std::atomic<bool> ended_{false};
};

}  // namespace app

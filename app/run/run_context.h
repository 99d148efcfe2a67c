#pragma once
// What the transfers of one download run share: the flow (its services,
// settings and progress record), the files, the plan, the log, and how the
// run ends. The first failure ends the run: its text is kept for the label
// and every transfer is told to stop.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/flow.h"
#include "app/run/run_log.h"
#include "app/run/run_plan.h"
#include "runtime/lock.h"
#include "runtime/types.h"

namespace app {

class RunContext {
 public:
  RunContext(Flow& flow, const std::vector<OutdatedFile>& files);
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  Flow& flow;
  const std::vector<OutdatedFile>& files;
  const std::vector<size_t> mirrors;  // the order every file tries them in (PatchSite's indexes)
  RunPlan plan;
  RunLog log;
  // Set when the run fails: the engine calls and the waits between tries
  // look at it and end soon.
  std::atomic<bool> cancel{false};

  // The run fails with `text` for the current-task label; the first of
  // several failures counts. The log line is written either way.
  void Fail(const rt::Text& text, const rt::Text& log_line);
  bool Failed() const { return failed_.load(); }
  rt::Text FailureText();
  // The checksum cache's record of an installed file, one call at a time.
  void RecordInstalled(const PatchEntry& entry, const rt::Text& path);

 private:
  rt::Lock lock_;
  std::atomic<bool> failed_{false};
  rt::Text failure_text_;  // guarded by lock_
};

}  // namespace app

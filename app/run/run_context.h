#pragma once
// What the transfers of one download run share: the flow (its services and
// settings), the files, the plan, the log, the proxy setting read once for
// the run, the run's own byte counter, and the run's state.
//
// The run is running, paused or failed. Failed is final: the first failure
// counts, its text is kept for the label, and it stops the transfers (their
// engine calls and waits look at `stop` and end soon); a stopped try never
// marks its file failed: the file goes back to waiting, its partial file
// kept. Paused blocks the run's rate limit: the transfers stay, their
// receives wait (a pause held long lets the connections go, the partial
// files kept), and no new try starts until the run is resumed.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/flow.h"
#include "app/run/connection_gate.h"
#include "app/run/run_log.h"
#include "app/run/run_plan.h"
#include "net/download_options.h"
#include "net/rate_limit.h"
#include "runtime/lock.h"
#include "runtime/types.h"

namespace app {

class MirrorPipelining;

enum class RunState : int32_t { kRunning, kPaused, kFailed };

class RunContext {
 public:
  RunContext(Flow& flow, const std::vector<OutdatedFile>& files);
  ~RunContext();
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  Flow& flow;
  const std::vector<OutdatedFile>& files;
  const std::vector<size_t> mirrors;  // the order every file tries them in (PatchSite's indexes)
  const net::ProxyUse proxy;          // the user's proxy setting, read once for the run
  RunPlan plan;
  RunLog log;
  // How many connections each mirror takes at once, by the index into
  // `mirrors`.
  std::vector<std::unique_ptr<ConnectionGate>> gates;
  // Whether requests are sent ahead to each mirror (send_ahead.h).
  std::vector<std::unique_ptr<MirrorPipelining>> pipelining;
  // Set once the run has failed: the engine calls and the waits between
  // tries look at it and end soon.
  std::atomic<bool> stop{false};
  // The one rate limit of the run's transfers: the player's speed cap, and
  // blocked while the run is paused.
  net::SharedRate rate;
  // Every body byte the run's tries received, for the speed; written by the
  // engine calls only, read by the display.
  std::atomic<int64_t> received{0};
  // Every byte the run's forms were turned into (decoded, patched), for the
  // speed while a form is applied.
  std::atomic<int64_t> made{0};
  // Held while a form is applied: one at a time, so that the codecs' memory
  // is bounded for the whole run, whatever the number of transfers.
  rt::Lock apply_lock;

  RunState State() const { return state_.load(); }
  bool Running() const { return State() == RunState::kRunning; }
  // Running to paused, and back; false (nothing changed) from another state.
  bool Pause();
  bool Resume();
  // The run's rate changed by the player's hand (a pause, a cap): the
  // connection gates judge their numbers afresh.
  void Remeasure();
  // Waits while the run is paused (the tries look here before they start);
  // false when the run has failed meanwhile. Bounded by the player: a
  // resume or the window's close.
  bool WaitWhilePaused();
  // The run fails with `text` for the current-task label; the first of
  // several failures counts. The log line is written either way.
  void Fail(const rt::Text& text, const rt::Text& log_line);
  bool Failed() const { return State() == RunState::kFailed; }
  rt::Text FailureText();
  // The checksum cache's record of an installed file, one call at a time.
  void RecordInstalled(const PatchEntry& entry, const rt::Text& path);

 private:
  rt::Lock lock_;
  std::atomic<RunState> state_{RunState::kRunning};  // changed under lock_
  rt::Text failure_text_;                            // guarded by lock_
};

}  // namespace app

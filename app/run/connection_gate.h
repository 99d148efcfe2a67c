#pragma once
// How many connections the run keeps open to one mirror at once. It starts
// with a few; once the server has served a try, a try that finds every
// allowed connection busy gets one more at once, up to the most the build
// allows (waiting for the busy ones to be served first costs the first files
// a round trip each). A server that
// turns connections away (a 503, a refused or reset connection) lowers the
// number for the rest of the run, below what was open when it refused, and
// it never grows again: a server or gateway that allows fewer connections
// per address is then asked on no more than it takes.
//
// Connections are added only while they help: once a number has run for
// kJudgeMs, the run's rate since then is held against that of the last
// smaller number that ran as long. Not kGainPercent higher (a line already
// full, a cap): the gate goes back to the smaller number, and adds none for
// kSettledMs (what the line allows may change: a large file that filled it
// has ended) or until Remeasure (a pause, a new cap).
#include <atomic>
#include <cstdint>
#include <functional>

#include "net/download_report.h"
#include "runtime/lock.h"

namespace app {

// What one try on a mirror's connection told about the server.
enum class ServerSign : int32_t {
  kServed,     // an answer came (whatever its status, but 503)
  kTurnedAway, // 503, or the connection refused or reset before any body byte
  kOther,      // anything else: says nothing about the connection count
};
ServerSign SignOf(const net::DownloadReport& report);

inline constexpr uint32_t kJudgeMs = 3000;
inline constexpr int64_t kGainPercent = 10;
inline constexpr uint32_t kSettledMs = 20000;

// What the gate measures the run's rate with; without a counter it adds
// connections whatever the rate.
struct RateProbe {
  const std::atomic<int64_t>* bytes = nullptr;  // the run's body bytes so far
  std::function<uint32_t()> ticks;              // wrapping milliseconds
};

// A change of the number allowed, for the log.
struct GateChange {
  enum class Why { kNone, kGrew, kTurnedAway, kNoGain };
  Why why = Why::kNone;
  int32_t allowed = 0;  // the number from now on (0 with kNone)
};

class ConnectionGate {
 public:
  // `first` connections at the start, `most` at the most (both at least 1).
  ConnectionGate(int32_t first, int32_t most, RateProbe probe = {});
  ConnectionGate(const ConnectionGate&) = delete;
  ConnectionGate& operator=(const ConnectionGate&) = delete;

  // Takes a connection when fewer than the allowed number are open, or when
  // all are busy and the number may still grow; the number open (this one
  // included) in `*open`, and in `*grew_to` the allowed number when it grew
  // for this one, else 0.
  [[nodiscard]] bool TryEnter(int32_t* open, int32_t* grew_to);
  // The try that Enter allowed has ended with `sign`; whether the allowed
  // number changed with it. Judges the number's gain (see above).
  GateChange Leave(ServerSign sign);
  // The run's rate changed for reasons of its own (paused, capped): rates
  // measured so far are forgotten, and a number given up for no gain may
  // grow again.
  void Remeasure();

  int32_t Allowed();
  int32_t Most() const { return most_; }

 private:
  // Under lock_: one more allowed; the number that ends becomes the base
  // when it ran long enough to be judged.
  void Grow();
  bool NoGain();
  bool Settled();
  int64_t LevelRate() const;
  void StartLevel();

  const int32_t most_;
  const RateProbe probe_;
  rt::Lock lock_;
  int32_t allowed_;        // guarded by lock_
  int32_t open_ = 0;       // guarded by lock_
  bool backed_off_ = false;  // guarded by lock_
  bool served_ = false;      // guarded by lock_: a try has been served
  bool settled_ = false;     // guarded by lock_: went back for no gain, at settled_at_ms_
  uint32_t settled_at_ms_ = 0;
  // Guarded by lock_: when the allowed number last changed, the run's bytes
  // then, and whether it has been judged; the base it is judged against
  // (bytes a second, -1: none yet).
  uint32_t level_start_ms_ = 0;
  int64_t level_start_bytes_ = 0;
  bool judged_ = false;
  int64_t base_rate_ = -1;
  int32_t base_allowed_ = 0;
};

}  // namespace app

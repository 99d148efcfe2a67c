#include "app/run/connection_gate.h"

#include <mutex>
#include <utility>

namespace app {

ServerSign SignOf(const net::DownloadReport& report) {
  if (report.http_status == 503) return ServerSign::kTurnedAway;
  if (report.reason == net::FailReason::kRefused) return ServerSign::kTurnedAway;
  if (report.reason == net::FailReason::kReset && report.http_status == 0) return ServerSign::kTurnedAway;
  if (report.http_status != 0) return ServerSign::kServed;
  return ServerSign::kOther;
}

ConnectionGate::ConnectionGate(int32_t first, int32_t most, RateProbe probe)
    : most_(most < 1 ? 1 : most), probe_(probe.ticks ? std::move(probe) : RateProbe{}) {
  allowed_ = first < 1 ? 1 : (first < most_ ? first : most_);
  StartLevel();
}

void ConnectionGate::StartLevel() {
  if (probe_.bytes == nullptr) return;
  level_start_ms_ = probe_.ticks();
  level_start_bytes_ = probe_.bytes->load();
  judged_ = false;
}

// The run's bytes a second since the number allowed last changed; -1 while
// it has run for less than kJudgeMs.
int64_t ConnectionGate::LevelRate() const {
  const uint32_t ran = probe_.ticks() - level_start_ms_;
  if (ran < kJudgeMs) return -1;
  return (probe_.bytes->load() - level_start_bytes_) * 1000 / ran;
}

void ConnectionGate::Grow() {
  const int64_t rate = probe_.bytes != nullptr ? LevelRate() : -1;
  if (rate >= 0) {
    base_rate_ = rate;
    base_allowed_ = allowed_;
  }
  ++allowed_;
  StartLevel();
}

// True when the number allowed has run for kJudgeMs without raising the
// run's rate over the base's by kGainPercent: the base's number again.
bool ConnectionGate::NoGain() {
  if (probe_.bytes == nullptr || judged_ || base_rate_ < 0 || allowed_ <= base_allowed_) return false;
  const int64_t rate = LevelRate();
  if (rate < 0) return false;
  judged_ = true;
  if (rate * 100 >= base_rate_ * (100 + kGainPercent)) return false;
  allowed_ = base_allowed_;
  settled_ = true;
  settled_at_ms_ = probe_.ticks();
  StartLevel();
  return true;
}

bool ConnectionGate::Settled() {
  if (settled_ && probe_.ticks() - settled_at_ms_ >= kSettledMs) settled_ = false;
  return settled_;
}

void ConnectionGate::Remeasure() {
  std::lock_guard<rt::Lock> guard(lock_);
  base_rate_ = -1;
  settled_ = false;
  StartLevel();
}

bool ConnectionGate::TryEnter(int32_t* open, int32_t* grew_to) {
  std::lock_guard<rt::Lock> guard(lock_);
  *grew_to = 0;
  if (open_ >= allowed_) {
    // Work is waiting and the server has served without turning anyone away.
    if (!served_ || backed_off_ || allowed_ >= most_ || Settled()) return false;
    Grow();
    *grew_to = allowed_;
  }
  ++open_;
  *open = open_;
  return true;
}

GateChange ConnectionGate::Leave(ServerSign sign) {
  std::lock_guard<rt::Lock> guard(lock_);
  const int32_t was_open = open_;
  if (open_ > 0) --open_;
  if (sign == ServerSign::kTurnedAway) {
    // Fewer than were open when the server said no, and one at the least.
    const int32_t fewer = was_open - 1 < 1 ? 1 : was_open - 1;
    backed_off_ = true;
    if (fewer < allowed_) {
      allowed_ = fewer;
      return GateChange{GateChange::Why::kTurnedAway, allowed_};
    }
    return GateChange{};
  }
  if (!backed_off_ && NoGain()) return GateChange{GateChange::Why::kNoGain, allowed_};
  if (sign == ServerSign::kServed) served_ = true;
  // Every allowed connection was busy and served: one more may help.
  if (sign == ServerSign::kServed && !backed_off_ && was_open >= allowed_ && allowed_ < most_ && !Settled()) {
    Grow();
    return GateChange{GateChange::Why::kGrew, allowed_};
  }
  return GateChange{};
}

int32_t ConnectionGate::Allowed() {
  std::lock_guard<rt::Lock> guard(lock_);
  return allowed_;
}

}  // namespace app

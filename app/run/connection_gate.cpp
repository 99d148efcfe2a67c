#include "app/run/connection_gate.h"

#include <mutex>

namespace app {

ServerSign SignOf(const net::DownloadReport& report) {
  if (report.http_status == 503) return ServerSign::kTurnedAway;
  if (report.reason == net::FailReason::kRefused) return ServerSign::kTurnedAway;
  if (report.reason == net::FailReason::kReset && report.http_status == 0) return ServerSign::kTurnedAway;
  if (report.http_status != 0) return ServerSign::kServed;
  return ServerSign::kOther;
}

ConnectionGate::ConnectionGate(int32_t first, int32_t most) : most_(most < 1 ? 1 : most) {
  allowed_ = first < 1 ? 1 : (first < most_ ? first : most_);
}

bool ConnectionGate::TryEnter(int32_t* open, int32_t* grew_to) {
  std::lock_guard<rt::Lock> guard(lock_);
  *grew_to = 0;
  if (open_ >= allowed_) {
    // Work is waiting and the server has served without turning anyone away.
    if (!served_ || backed_off_ || allowed_ >= most_) return false;
    ++allowed_;
    *grew_to = allowed_;
  }
  ++open_;
  *open = open_;
  return true;
}

int32_t ConnectionGate::Leave(ServerSign sign) {
  std::lock_guard<rt::Lock> guard(lock_);
  const int32_t was_open = open_;
  if (open_ > 0) --open_;
  if (sign == ServerSign::kTurnedAway) {
    // Fewer than were open when the server said no, and one at the least.
    const int32_t fewer = was_open - 1 < 1 ? 1 : was_open - 1;
    backed_off_ = true;
    if (fewer < allowed_) {
      allowed_ = fewer;
      return allowed_;
    }
    return 0;
  }
  if (sign == ServerSign::kServed) served_ = true;
  // Every allowed connection was busy and served: one more may help.
  if (sign == ServerSign::kServed && !backed_off_ && was_open >= allowed_ && allowed_ < most_) {
    ++allowed_;
    return allowed_;
  }
  return 0;
}

int32_t ConnectionGate::Allowed() {
  std::lock_guard<rt::Lock> guard(lock_);
  return allowed_;
}

}  // namespace app

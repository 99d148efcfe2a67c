#pragma once
// The time limits of one download, as options with named defaults: how long
// one receive waits, and the two rules a slow transfer must pass (see
// StallWatch). Tests and callers with other needs give their own values.
#include <cstdint>

#include "net/stall_watch.h"

namespace net {

// Seconds one receive waits for data before the transfer counts as ended.
constexpr int32_t kReceiveWaitSeconds = 15;
constexpr int32_t kReceiveWaitMs = kReceiveWaitSeconds * 1000;
// With a cancel flag, a receive waits in pieces of this many milliseconds and
// looks at the flag between them, so that a cancelled call ends this soon.
constexpr int32_t kCancelPollMs = 100;
// A receive that gets nothing within its wait waits on while the run's
// other transfers receive (`received_counter` moves): on a slow line they
// share, this connection's bytes may queue behind theirs, and a new try
// would only queue again. At most this long past the first wait.
constexpr int32_t kWaitBehindRunMs = 4 * kReceiveWaitMs;

struct TransferLimits {
  int32_t receive_wait_ms = kReceiveWaitMs;  // one receive, head or body
  int32_t wait_behind_run_ms = kWaitBehindRunMs;  // more for one receive, while the run receives
  uint32_t stall_window_ms = kStallWindowMs;  // 0: no stall rule
  int64_t stall_min_bytes = kStallMinBytes;
  uint32_t floor_window_ms = kFloorWindowMs;  // 0: no floor rate
  int64_t floor_bytes_per_second = kFloorBytesPerSecond;
};

}  // namespace net

#pragma once
// RateLimit: one token bucket for the whole run, shared by every transfer.
// A transfer asks it how many bytes it may receive before each socket
// receive and passes that as the receive size, so the cap bounds what is
// read rather than being applied after a large read-ahead. Pause is a limit
// that lets nothing through; the time spent blocked is not the transfer's,
// so the stall rule and the floor rate count only the time bytes may pass.
//
// The clock is injected (wrapping millisecond ticks, as StallWatch takes);
// SharedRate below holds the lock when transfers share one limit.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include <utility>

#include "runtime/lock.h"

namespace net {

// The bucket holds at most this many milliseconds of the cap, so a quiet
// spell does not release a burst larger than a fraction of a second.
constexpr uint32_t kRateBurstMs = 250;
// Never grant less than this when anything is granted, so small receives do
// not multiply system calls at low caps (unless the cap itself is lower).
constexpr int64_t kRateMinGrant = 1024;

class RateLimit {
 public:
  // `bytes_per_second` 0 means no cap.
  explicit RateLimit(uint32_t now_ms, int64_t bytes_per_second = 0)
      : last_ms_(now_ms), rate_(bytes_per_second) {}

  void SetRate(int64_t bytes_per_second, uint32_t now_ms) {
    Refill(now_ms);
    rate_ = std::max<int64_t>(0, bytes_per_second);
    tokens_ = std::min(tokens_, Capacity());
  }
  int64_t Rate() const { return rate_; }

  void Pause(uint32_t now_ms) {
    Refill(now_ms);
    paused_ = true;
  }
  void Resume(uint32_t now_ms) {
    // Time spent paused earns nothing: restart the refill clock here.
    last_ms_ = now_ms;
    paused_ = false;
  }
  bool Paused() const { return paused_; }

  // How many bytes, up to `wanted`, may be received now; 0 when paused or
  // the bucket is empty (wait WaitMs and ask again). The grant is taken.
  int64_t Grant(int64_t wanted, uint32_t now_ms) {
    Refill(now_ms);
    if (paused_ || wanted <= 0) return 0;
    if (rate_ == 0) return wanted;
    const int64_t floor = std::min(kRateMinGrant, Capacity());
    if (tokens_ < std::min(floor, wanted)) return 0;
    const int64_t granted = std::min(wanted, tokens_);
    tokens_ -= granted;
    return granted;
  }

  // Returns bytes granted but not received (a receive that read less).
  void Refund(int64_t bytes) {
    if (rate_ != 0 && bytes > 0) tokens_ = std::min(Capacity(), tokens_ + bytes);
  }

  // How long until a grant of the minimum size can be made; 0 when one can
  // now. While paused this is the poll interval the caller chooses.
  uint32_t WaitMs() const {
    if (rate_ == 0) return 0;
    const int64_t need = std::min(kRateMinGrant, Capacity()) - tokens_;
    if (need <= 0) return 0;
    return static_cast<uint32_t>((need * 1000 + rate_ - 1) / rate_);
  }

 private:
  int64_t Capacity() const { return std::max<int64_t>(1, rate_ * kRateBurstMs / 1000); }

  void Refill(uint32_t now_ms) {
    // Unsigned difference: correct across a wrap of the tick count.
    const uint32_t elapsed = now_ms - last_ms_;
    last_ms_ = now_ms;
    if (paused_ || rate_ == 0) return;
    // Carry the fraction of a byte so frequent refills do not lose rate.
    const int64_t earned = rate_ * static_cast<int64_t>(elapsed) + carry_;
    carry_ = earned % 1000;
    tokens_ = std::min(Capacity(), tokens_ + earned / 1000);
    if (tokens_ == Capacity()) carry_ = 0;
  }

  uint32_t last_ms_;
  int64_t rate_;
  int64_t tokens_ = 0;
  int64_t carry_ = 0;
  bool paused_ = false;
};

// While the limit stays paused this long, a waiting transfer lets its
// connection go (the partial file keeps what arrived). Shorter pauses keep
// the connection: what the server had sent into the socket buffers is read
// on resume instead of being fetched again (a server that ends the request
// meanwhile has its last bytes read all the same, and the rest is asked for
// with a Range).
constexpr uint32_t kPauseHoldMs = 300000;
// A waiting transfer looks at the limit and its cancel flag this often.
constexpr int32_t kRateWaitPieceMs = 50;

// What a transfer got from SharedRate::Take.
struct RateGrant {
  int64_t bytes = 0;        // may be received now; 0: the wait ended without a grant
  uint32_t blocked_ms = 0;  // spent waiting: not the transfer's time
  bool let_go = false;      // paused for kPauseHoldMs: end the transfer, keep its bytes
};

// The limit shared by the transfers of one run: the bucket under a lock,
// with the waiting done here, on the caller's clock and sleep.
class SharedRate {
 public:
  using Ticks = std::function<uint32_t()>;
  using Sleep = std::function<void(int32_t ms)>;

  SharedRate(Ticks ticks, Sleep sleep, uint32_t hold_ms = kPauseHoldMs)
      : ticks_(ticks ? std::move(ticks) : Ticks([] { return 0u; })),
        sleep_(std::move(sleep)),
        hold_ms_(hold_ms),
        limit_(ticks_()) {}

  void SetRate(int64_t bytes_per_second) {
    std::lock_guard<rt::Lock> hold(lock_);
    limit_.SetRate(bytes_per_second, ticks_());
  }
  int64_t Rate() {
    std::lock_guard<rt::Lock> hold(lock_);
    return limit_.Rate();
  }
  void Pause() {
    std::lock_guard<rt::Lock> hold(lock_);
    limit_.Pause(ticks_());
  }
  void Resume() {
    std::lock_guard<rt::Lock> hold(lock_);
    limit_.Resume(ticks_());
  }
  bool Paused() {
    std::lock_guard<rt::Lock> hold(lock_);
    return limit_.Paused();
  }

  // Waits until up to `wanted` bytes may be received. Bounded: a capped
  // limit grants within its refill time, a paused one lets go after the
  // hold, and `cancel` (when given) ends the wait within a piece.
  RateGrant Take(int64_t wanted, const std::atomic<bool>* cancel) {
    RateGrant grant;
    const uint32_t start = ticks_();
    uint32_t paused_since = 0;
    bool was_paused = false;
    while (true) {
      const uint32_t now = ticks_();
      grant.blocked_ms = now - start;
      int32_t wait_ms = kRateWaitPieceMs;
      {
        std::lock_guard<rt::Lock> hold(lock_);
        grant.bytes = limit_.Grant(wanted, now);
        if (grant.bytes > 0 || wanted <= 0) return grant;
        if (!limit_.Paused()) {
          was_paused = false;
          wait_ms = static_cast<int32_t>(std::min<uint32_t>(limit_.WaitMs(), kRateWaitPieceMs));
        } else if (!was_paused) {
          was_paused = true;
          paused_since = now;
        }
      }
      if (cancel != nullptr && cancel->load()) return grant;
      if (was_paused && now - paused_since >= hold_ms_) {
        grant.let_go = true;
        return grant;
      }
      if (sleep_) sleep_(std::max<int32_t>(1, wait_ms));
    }
  }

  // Bytes granted but not received.
  void Refund(int64_t bytes) {
    std::lock_guard<rt::Lock> hold(lock_);
    limit_.Refund(bytes);
  }

 private:
  rt::Lock lock_;
  Ticks ticks_;
  Sleep sleep_;
  uint32_t hold_ms_;
  RateLimit limit_;
};

}  // namespace net

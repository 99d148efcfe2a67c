// The system-independent part of the mapped views: the guard's slots.
#include <atomic>

#include "checksum/file_views.h"

namespace checksum::detail {
namespace {

struct Slot {
  std::atomic<bool> taken{false};
  std::atomic<const std::uint8_t*> begin{nullptr};
  std::atomic<size_t> size{0};
  std::atomic<bool> failed{false};
};

// Zero-initialised before any code runs: no guarded static.
Slot g_slots[kGuardSlots];

}  // namespace

int GuardRange(const std::uint8_t* begin, size_t size) {
  for (int i = 0; i < kGuardSlots; ++i) {
    if (g_slots[i].taken.exchange(true)) continue;
    g_slots[i].failed.store(false);
    g_slots[i].size.store(size);
    g_slots[i].begin.store(begin);  // last: the handler sees a whole range
    return i;
  }
  return -1;
}

bool ReleaseRange(int slot) {
  Slot& s = g_slots[slot];
  s.begin.store(nullptr);
  const bool failed = s.failed.load();
  s.taken.store(false);
  return failed;
}

int FailRangeAt(const void* address, const std::uint8_t** begin, size_t* size) {
  const auto* at = static_cast<const std::uint8_t*>(address);
  for (int i = 0; i < kGuardSlots; ++i) {
    const std::uint8_t* b = g_slots[i].begin.load();
    const size_t n = g_slots[i].size.load();
    if (b == nullptr || at < b || at >= b + n) continue;
    g_slots[i].failed.store(true);
    *begin = b;
    *size = n;
    return i;
  }
  return -1;
}

void FeedView(const std::uint8_t* view, size_t size, ChecksumAccumulator& sum,
              const std::function<void()>& between_chunks) {
  for (size_t at = 0; at < size; at += kChecksumChunkSize) {
    const size_t piece = size - at < kChecksumChunkSize ? size - at : kChecksumChunkSize;
    sum.Feed(view + at, piece);
    if (between_chunks) between_chunks();
  }
}

}  // namespace checksum::detail

#pragma once
// A mutual-exclusion lock over a Windows slim reader/writer lock, for
// std::lock_guard. It needs no set-up or clean-up, so a global one is ready
// before any constructor runs. (std::mutex of this toolchain is a POSIX
// threads mutex and links that library into the program.)
#include "runtime/win32/win.h"

namespace rt {

class SlimLock {
 public:
  SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;
  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace rt

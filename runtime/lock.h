#pragma once
// A mutual-exclusion lock for std::lock_guard, for state that several
// threads of the updater share. Windows: a slim reader/writer lock (the
// toolchain's std::mutex would link the POSIX threads library into the
// program); POSIX: a pthread mutex.
#include <cstddef>
#include <cstdint>

namespace rt {

class Lock {
 public:
  // Room for the system's lock object, made in place by the constructor (an
  // SRWLOCK is one pointer; a pthread mutex is 40 bytes on x86_64 Linux).
  static constexpr size_t kStorageBytes = 64;

  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void lock();
  void unlock();

 private:
  alignas(16) std::uint8_t storage_[kStorageBytes];
};

}  // namespace rt

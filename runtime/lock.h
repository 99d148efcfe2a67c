#pragma once
// Lock: mutual exclusion for portable code, for std::lock_guard. On Windows a
// slim reader/writer lock taken exclusively (no set-up, and no POSIX threads
// library in the program, which std::mutex of this toolchain would link); on
// POSIX a pthread mutex.
namespace rt {

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void lock();
  void unlock();

 private:
  // Windows: the slim lock itself (one pointer); POSIX: the mutex it points to.
  void* state_ = nullptr;
};

}  // namespace rt

#pragma once
// The calling thread's last system error: GetLastError on Windows, errno on
// POSIX. A failed call leaves its reason there; whatever runs between the
// failure and the caller's look (closing a handle, say) must not overwrite it.
#include <cerrno>
#include <cstdint>

namespace rt {

uint32_t LastSystemError();
void SetLastSystemError(uint32_t error);

// Saves the last system error (and errno, which the C library sets on
// Windows too) and puts both back when it goes.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : error_(LastSystemError()), errno_(errno) {}
  ~LastErrorKeeper() {
    SetLastSystemError(error_);
    errno = errno_;
  }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  uint32_t error_;
  int errno_;
};

// True for the errors a full disk (or an exhausted quota) gives a write:
// ERROR_DISK_FULL and ERROR_HANDLE_DISK_FULL on Windows, ENOSPC and EDQUOT
// on POSIX.
bool IsDiskFullError(uint32_t error);
// True for the errors a file held open by another program gives:
// ERROR_SHARING_VIOLATION and ERROR_LOCK_VIOLATION on Windows, EBUSY and
// ETXTBSY on POSIX.
bool IsInUseError(uint32_t error);

}  // namespace rt

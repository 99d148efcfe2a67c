#include "runtime/lock.h"
#include "runtime/win32/win.h"

namespace rt {
namespace {
static_assert(sizeof(SRWLOCK) == sizeof(void*), "a slim lock is one pointer");
PSRWLOCK Slim(void** state) { return reinterpret_cast<PSRWLOCK>(state); }
}  // namespace

// SRWLOCK_INIT is all zero bits: state_ starts as nullptr.
Lock::Lock() = default;
Lock::~Lock() = default;
void Lock::lock() { AcquireSRWLockExclusive(Slim(&state_)); }
void Lock::unlock() { ReleaseSRWLockExclusive(Slim(&state_)); }

}  // namespace rt

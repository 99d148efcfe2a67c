#include <new>

#include "runtime/lock.h"
#include "runtime/win32/win.h"

namespace rt {
namespace {

SRWLOCK* Of(std::uint8_t* storage) { return reinterpret_cast<SRWLOCK*>(storage); }

}  // namespace

static_assert(sizeof(SRWLOCK) <= Lock::kStorageBytes, "room for an SRWLOCK");

Lock::Lock() { InitializeSRWLock(new (storage_) SRWLOCK); }
// An SRWLOCK needs no clean-up.
Lock::~Lock() = default;
void Lock::lock() { AcquireSRWLockExclusive(Of(storage_)); }
void Lock::unlock() { ReleaseSRWLockExclusive(Of(storage_)); }

}  // namespace rt

#include <pthread.h>

#include <new>

#include "runtime/lock.h"

namespace rt {
namespace {

pthread_mutex_t* Of(std::uint8_t* storage) { return reinterpret_cast<pthread_mutex_t*>(storage); }

}  // namespace

static_assert(sizeof(pthread_mutex_t) <= Lock::kStorageBytes, "room for a pthread mutex");

Lock::Lock() { pthread_mutex_init(new (storage_) pthread_mutex_t, nullptr); }
Lock::~Lock() { pthread_mutex_destroy(Of(storage_)); }
void Lock::lock() { pthread_mutex_lock(Of(storage_)); }
void Lock::unlock() { pthread_mutex_unlock(Of(storage_)); }

}  // namespace rt

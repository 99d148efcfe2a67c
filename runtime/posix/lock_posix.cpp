#include <pthread.h>

#include "runtime/lock.h"

namespace rt {
namespace {
pthread_mutex_t* Mutex(void* state) { return static_cast<pthread_mutex_t*>(state); }
}  // namespace

Lock::Lock() : state_(new pthread_mutex_t) { pthread_mutex_init(Mutex(state_), nullptr); }
Lock::~Lock() {
  pthread_mutex_destroy(Mutex(state_));
  delete Mutex(state_);
}
void Lock::lock() { pthread_mutex_lock(Mutex(state_)); }
void Lock::unlock() { pthread_mutex_unlock(Mutex(state_)); }

}  // namespace rt

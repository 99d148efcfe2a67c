#include <pthread.h>
#include <time.h>

#include <cerrno>

#include "runtime/thread.h"

namespace rt {
namespace {

struct Start {
  ThreadRoutine routine;
  void* parameter;
};

void* Trampoline(void* arg) {
  Start start = *static_cast<Start*>(arg);
  delete static_cast<Start*>(arg);
  // Killing a thread is asynchronous on Windows; come as close as POSIX allows.
  pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
  start.routine(start.parameter);
  return nullptr;
}

// What a ThreadHandle points to here: the thread, and whether it was joined.
// A joined thread is gone, and detaching it then would be undefined, so the
// handle remembers the join.
struct Thread {
  pthread_t id;
  bool joined = false;
};

Thread* Of(ThreadHandle handle) { return reinterpret_cast<Thread*>(handle); }

}  // namespace

bool StartThread(ThreadRoutine routine, void* parameter, ThreadHandle* handle) {
  if (!routine) return false;
  auto* start = new Start{routine, parameter};
  pthread_t thread;
  if (pthread_create(&thread, nullptr, Trampoline, start) != 0) {
    delete start;
    return false;
  }
  if (handle)
    *handle = reinterpret_cast<ThreadHandle>(new Thread{thread});
  else
    pthread_detach(thread);
  return true;
}

bool KillThread(ThreadHandle handle) {
  return handle != 0 && !Of(handle)->joined && pthread_cancel(Of(handle)->id) == 0;
}

bool JoinThread(ThreadHandle handle, uint32_t timeout_ms) {
  if (handle == 0) return false;
  if (Of(handle)->joined) return true;
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  Of(handle)->joined = pthread_timedjoin_np(Of(handle)->id, nullptr, &deadline) == 0;
  return Of(handle)->joined;
}

// No window messages here: a plain wait.
bool JoinThreadWithEvents(ThreadHandle handle, uint32_t timeout_ms) {
  if (handle == 0) return false;
  if (timeout_ms != kWaitForever || Of(handle)->joined) return JoinThread(handle, timeout_ms);
  Of(handle)->joined = pthread_join(Of(handle)->id, nullptr) == 0;
  return Of(handle)->joined;
}

void CloseThreadHandle(ThreadHandle handle) {
  if (handle == 0) return;
  if (!Of(handle)->joined) pthread_detach(Of(handle)->id);
  delete Of(handle);
}

}  // namespace rt

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
    *handle = static_cast<ThreadHandle>(thread);
  else
    pthread_detach(thread);
  return true;
}

bool KillThread(ThreadHandle handle) {
  return handle != 0 && pthread_cancel(static_cast<pthread_t>(handle)) == 0;
}

bool JoinThread(ThreadHandle handle, uint32_t timeout_ms) {
  if (handle == 0) return false;
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return pthread_timedjoin_np(static_cast<pthread_t>(handle), nullptr, &deadline) == 0;
}

// No window messages here: a plain wait.
bool JoinThreadWithEvents(ThreadHandle handle, uint32_t timeout_ms) {
  if (handle == 0) return false;
  if (timeout_ms == kWaitForever) return pthread_join(static_cast<pthread_t>(handle), nullptr) == 0;
  return JoinThread(handle, timeout_ms);
}

void CloseThreadHandle(ThreadHandle handle) {
  if (handle != 0) pthread_detach(static_cast<pthread_t>(handle));
}

}  // namespace rt

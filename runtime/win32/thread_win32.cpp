#include "runtime/process.h"
#include "runtime/thread.h"
#include "runtime/win32/win.h"

namespace rt {
namespace {

struct Start {
  ThreadRoutine routine;
  void* parameter;
};

DWORD WINAPI Trampoline(LPVOID arg) {
  Start start = *static_cast<Start*>(arg);
  delete static_cast<Start*>(arg);
  start.routine(start.parameter);
  return 0;
}

}  // namespace

bool StartThread(ThreadRoutine routine, void* parameter, ThreadHandle* handle) {
  if (!routine) return false;
  auto* start = new Start{routine, parameter};
  HANDLE thread = CreateThread(nullptr, 0, Trampoline, start, 0, nullptr);
  if (!thread) {
    delete start;
    return false;
  }
  if (handle)
    *handle = reinterpret_cast<ThreadHandle>(thread);
  else
    CloseHandle(thread);
  return true;
}

bool KillThread(ThreadHandle handle) {
  return handle != 0 && TerminateThread(reinterpret_cast<HANDLE>(handle), static_cast<DWORD>(-1)) != 0;
}

bool JoinThread(ThreadHandle handle, uint32_t timeout_ms) {
  return handle != 0 && WaitForSingleObject(reinterpret_cast<HANDLE>(handle), timeout_ms) == WAIT_OBJECT_0;
}

bool JoinThreadWithEvents(ThreadHandle handle, uint32_t timeout_ms) {
  if (handle == 0) return false;
  const HANDLE thread = reinterpret_cast<HANDLE>(handle);
  const DWORD start = GetTickCount();
  // Bounded by the time-out: every round dispatches what is queued and waits
  // for the thread, a new message or the time left.
  for (;;) {
    ProcessEvents();
    DWORD wait = INFINITE;
    if (timeout_ms != kWaitForever) {
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeout_ms) return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
      wait = timeout_ms - elapsed;
    }
    if (MsgWaitForMultipleObjects(1, &thread, FALSE, wait, QS_ALLINPUT) == WAIT_OBJECT_0) return true;
  }
}

void CloseThreadHandle(ThreadHandle handle) {
  if (handle != 0) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace rt

#pragma once
// Threads.
#include <cstdint>

#include "runtime/scoped_handle.h"

namespace rt {

// An operating-system thread handle; 0 when none.
using ThreadHandle = std::uintptr_t;
using ThreadRoutine = void (*)(void* parameter);

// Starts `routine(parameter)` on a new thread; true when it was created. The
// handle is stored in `*handle` when asked for, otherwise closed at once.
bool StartThread(ThreadRoutine routine, void* parameter = nullptr, ThreadHandle* handle = nullptr);
// Forcibly ends the thread (exit code -1); true on success.
bool KillThread(ThreadHandle handle);
// Waits for the thread to end (used by tests and tools); true when it ended.
bool JoinThread(ThreadHandle handle, uint32_t timeout_ms);
// The same wait, delivering the calling thread's window messages all the
// while, so that a window thread waiting for a worker stays answering (its
// close button included). kWaitForever waits until the thread ends.
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
bool JoinThreadWithEvents(ThreadHandle handle, uint32_t timeout_ms);
// Releases a handle kept by StartThread.
void CloseThreadHandle(ThreadHandle handle);

// The owner of a handle kept by StartThread: StartThread(routine, parameter,
// thread.receive()). Closing the handle neither waits for the thread nor ends it.
struct ThreadHandleTraits {
  using Handle = ThreadHandle;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle handle) { return handle != 0; }
  static void Close(Handle handle) { CloseThreadHandle(handle); }
};
using ScopedThread = ScopedHandle<ThreadHandleTraits>;

}  // namespace rt

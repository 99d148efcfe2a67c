#pragma once
// Owners of the kernel's handles: UniqueHandle (CloseHandle) for files,
// processes, threads, events and mutexes, and FindHandle (FindClose) for a
// directory search. Both are ScopedHandle, the one move-only owner.
#include "runtime/scoped_handle.h"
#include "runtime/win32/win.h"

namespace rt {

// CreateFile and a few others say "none" with INVALID_HANDLE_VALUE, most
// other calls with a null handle: neither is closed.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
using UniqueHandle = ScopedHandle<KernelHandleTraits>;

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { FindClose(h); }
};
using FindHandle = ScopedHandle<FindHandleTraits>;

}  // namespace rt

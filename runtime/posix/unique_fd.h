#pragma once
// UniqueFd: a file descriptor (files, sockets) owned by ScopedHandle.
#include <unistd.h>

#include "runtime/scoped_handle.h"

namespace rt {

struct FdTraits {
  using Handle = int;
  static Handle Invalid() { return -1; }
  static bool IsValid(Handle fd) { return fd >= 0; }
  static void Close(Handle fd) { ::close(fd); }
};
using UniqueFd = ScopedHandle<FdTraits>;

}  // namespace rt

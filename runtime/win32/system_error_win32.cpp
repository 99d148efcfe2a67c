#include "runtime/system_error.h"
#include "runtime/win32/win.h"

namespace rt {

uint32_t LastSystemError() { return GetLastError(); }

void SetLastSystemError(uint32_t error) { SetLastError(error); }

bool IsDiskFullError(uint32_t error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

bool IsInUseError(uint32_t error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

}  // namespace rt

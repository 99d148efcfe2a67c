#include <cerrno>

#include "runtime/system_error.h"

namespace rt {

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

void SetLastSystemError(uint32_t error) { errno = static_cast<int>(error); }

bool IsDiskFullError(uint32_t error) {
  return error == static_cast<uint32_t>(ENOSPC) || error == static_cast<uint32_t>(EDQUOT);
}

bool IsInUseError(uint32_t error) {
  return error == static_cast<uint32_t>(EBUSY) || error == static_cast<uint32_t>(ETXTBSY);
}

}  // namespace rt

#pragma once
// GBK paths to the UTF-8 paths of a POSIX system. Backslashes become slashes
// after the conversion (a GBK trail byte may be 0x5C; UTF-8 never reuses it),
// so paths built the Windows way work here too.
#include <string>

#include "runtime/types.h"

namespace rt {

std::string NativePath(const Text& gbk_path);

}  // namespace rt

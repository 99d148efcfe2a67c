#pragma once
// The command line as GBK texts.
#include <string>
#include <vector>

#include "runtime/types.h"

namespace patchtool {

// The arguments after the program name, converted from the system's encoding
// (UTF-8 on POSIX, UTF-16 on Windows) to GBK. False, with the offending
// argument in `error` (UTF-8), when one has a character GBK cannot hold.
bool GbkArguments(int argc, char** argv, std::vector<rt::Text>* out, std::string* error);

}  // namespace patchtool

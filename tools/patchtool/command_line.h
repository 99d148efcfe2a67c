#pragma once
// The argument loop of the sub-commands that take options with a value and a
// fixed number of names (manifest, publish, pack, verify).
#include <functional>
#include <initializer_list>
#include <string>

#include "runtime/types.h"
#include "tools/patchtool/list_signing.h"

namespace patchtool {

// An option followed by its value ("-o FILE"). `check`, when given, sees the
// value as it is taken; false ends the parse as a usage error (it reports
// why itself).
struct ValueOption {
  const char* name;
  rt::Text* value;
  std::function<bool(const rt::Text& value)> check = {};
};

enum class ParseOutcome { kRun, kHelpShown, kUsageError };

// Reads argv[1..argc-1] in order. For each argument:
//   "--help" or "-h": `help` goes to standard output; kHelpShown.
//   "--sign"/"--sequence" (when `sign` is given): taken by TakeSignOption.
//   a name of `options` with a value after it: the value is stored.
//   anything not starting with "-": the first of `names` still empty.
//   anything else: "<command>: unexpected argument X" and `usage` on
//   standard error; kUsageError.
// Whether the names the command needs were all given is the caller's check.
ParseOutcome ParseArguments(const char* command, int argc, char** argv, const std::string& usage,
                            const std::string& help, std::initializer_list<ValueOption> options,
                            std::initializer_list<rt::Text*> names, SignOptions* sign = nullptr);

}  // namespace patchtool

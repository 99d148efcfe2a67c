#pragma once
// Small texts kept for the user, across runs and client folders: on Windows
// string values in the user's registry (HKEY_CURRENT_USER), on POSIX one file
// per value under $XDG_STATE_HOME (default $HOME/.local/state), the key's
// "\" separators as folders. `key` is a path such as "Software\Maker\Game",
// `name` the value's name; both GBK.
#include <optional>

#include "runtime/types.h"

namespace rt {

// The value, or nothing when it is missing or cannot be read.
std::optional<Text> ReadUserValue(const Text& key, const Text& name);
// Creates the key when missing and writes the value; true on success.
[[nodiscard]] bool WriteUserValue(const Text& key, const Text& name, const Text& value);

}  // namespace rt

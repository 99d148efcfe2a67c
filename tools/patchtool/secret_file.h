#pragma once
// A new file for a secret: created only when nothing exists at the path, and
// readable by its owner alone where the system has such permissions.
#include "runtime/types.h"

namespace patchtool {

enum class SecretFileResult { kWritten, kExists, kFailed };

[[nodiscard]] SecretFileResult WriteNewSecretFile(const rt::Text& path, const rt::Text& content);

}  // namespace patchtool

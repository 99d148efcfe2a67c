#pragma once
// A new file for a secret: created only when nothing exists at the path, and
// readable by its owner alone (POSIX mode 0600; on Windows an access list
// that grants the current user alone, not inherited from the folder).
#include "runtime/types.h"

namespace patchtool {

enum class SecretFileResult { kWritten, kExists, kFailed };

[[nodiscard]] SecretFileResult WriteNewSecretFile(const rt::Text& path, const rt::Text& content);

// True when users other than the owner may read the file: POSIX group or
// other read bits; on Windows an access list entry that lets anyone but the
// current user, the system account and the administrators read it (or no
// access list at all).
bool IsReadableByOthers(const rt::Text& path);

}  // namespace patchtool

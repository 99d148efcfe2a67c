#pragma once
// One updater per client folder: a lock named after the folder's identity
// (its volume and its number there), so that two launchers started in one
// folder do not fight over its files, however the folder was reached (another
// spelling, a link, a mapped drive), while updaters of different folders run
// side by side.
#include <cstdint>

#include "runtime/file_facts.h"
#include "runtime/types.h"

namespace rt {

// The lock's system-wide name for a folder: named after its identity; when
// that cannot be read, after its path (InstanceLockNameOfPath).
Text InstanceLockName(const Text& folder);
Text InstanceLockNameOf(const FileIdentity& folder);
// A hash of the full path with ASCII letters folded (Windows paths ignore
// case) and "/" read as "\".
Text InstanceLockNameOfPath(const Text& folder);

// Owns the lock of one folder while it lives. Windows: a named mutex, which
// the system lets go when the owning process ends, however it ends; POSIX: an
// advisory lock on a file in the temporary folder.
class InstanceLock {
 public:
  // Waits at most `wait_ms` for the lock; Owned() tells whether it came.
  InstanceLock(const Text& folder, uint32_t wait_ms);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  bool Owned() const { return owned_; }

 private:
  std::uintptr_t handle_ = 0;
  bool owned_ = false;
};

// Restores and brings to the front the top-level window captioned `caption`
// of a program running from `folder` (the same folder by identity, however
// that program was started); false when there is none.
bool BringProgramWindowToFront(const Text& folder, const Text& caption);

// The local date and time, "YYYY-MM-DD hh:mm:ss".
Text LocalTimeText();

}  // namespace rt

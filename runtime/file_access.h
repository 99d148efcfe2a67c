#pragma once
// Whether the updater may write where it is about to: probes that ask the
// system before anything is deleted or downloaded, so that a protected
// folder or a file held open by the running game is reported up front.
#include <cstdint>

#include "runtime/types.h"

namespace rt {

enum class WriteAccess {
  kOk,
  kDenied,  // the system refuses writing (protected folder, read-only that cannot be cleared)
  kInUse,   // another program holds the file open without sharing it
};

struct AccessCheck {
  WriteAccess access = WriteAccess::kOk;
  uint32_t error = 0;  // the system's error code (GetLastError, errno on POSIX) when not kOk
};

// Creates, writes and removes a scratch file in `folder` ("" is the current
// folder).
AccessCheck ProbeFolderWritable(const Text& folder);
// Whether the file at `path` can be replaced: a missing file can; a read-only
// one has its read-only attribute cleared first (denied when that fails);
// then it must open for writing and deleting without sharing.
AccessCheck ProbeReplaceable(const Text& path);

// The name of the scratch file ProbeFolderWritable makes and removes.
inline constexpr const char kProbeFileName[] = "update.probe.tmp";

}  // namespace rt

#pragma once
// Whether the updater may write where it is about to: probes that ask the
// system before anything is deleted or downloaded, so that a protected
// folder or a file held open by the running game is reported up front.
#include <cstdint>
#include <vector>

#include "runtime/types.h"

namespace rt {

enum class WriteAccess {
  kOk,
  kDenied,    // the system refuses writing (protected folder, read-only that cannot be cleared)
  kInUse,     // another program holds the file open without sharing it
  kDiskFull,  // the disk (or the user's quota) has no room for a byte more
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

// The bytes this user may still write on the disk that holds `folder` ("" is
// the current folder), -1 when that cannot be told.
int64_t FreeDiskSpace(const Text& folder);

// What is at a path, the last component not followed if it is a link.
enum class EntryKind {
  kNothing,
  kLink,  // Windows: a reparse point (symbolic link, junction, mount point); POSIX: a symbolic link
  kFolder,
  kFile,
};
EntryKind EntryKindOf(const Text& path);

// Where the link at `path` leads: the full path of its target, every link
// on the way resolved; empty when it leads nowhere (a missing target, a loop)
// or cannot be read.
Text ResolveLink(const Text& path);

// A link on the way to a file.
struct PathLink {
  Text link;    // the part of the path up to and including it ("data" for "data\map\town.dat")
  Text target;  // ResolveLink of it: empty when it leads nowhere
  bool resolved() const { return !target.empty(); }
};

// The existing components of `path` (relative, "\"- or "/"-separated, GBK)
// below the folder `base` ("" is the current folder; the folder itself is
// not looked at) that are links, in order; writing below one writes where it
// leads. Components from the first missing one on cannot be links, nor those
// below a link that leads nowhere (the list ends with it).
std::vector<PathLink> FindLinksBelow(const Text& base, const Text& path);

// The name of the scratch file ProbeFolderWritable makes and removes.
inline constexpr const char kProbeFileName[] = "update.probe.tmp";

}  // namespace rt

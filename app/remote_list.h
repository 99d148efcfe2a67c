#pragma once
// The remote version list (filelist.txt): lines separated by CR LF, each
// entry a relative path and a checksum joined by "#".
#include <vector>

#include "app/globals.h"
#include "runtime/types.h"

namespace app {

struct RemoteList {
  bool usable = false;           // false: no line, an error page, or an unsafe entry
  std::vector<RemoteRow> rows;   // one per line; empty columns for non-entries
  std::vector<bool> is_entry;    // per line
};

// Reads the list from the response body (up to its first NUL byte).
RemoteList ParseRemoteList(const rt::Bytes& body);

// True when an entry's path could reach outside the client folder or name
// something that is not a plain file in it: empty, absolute, a drive or UNC
// prefix, a ":" anywhere, a ".." segment, a trailing separator, or a reserved
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) as any segment.
bool IsUnsafeEntryPath(const rt::Text& path);

}  // namespace app

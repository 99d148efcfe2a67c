#pragma once
// The remote version list (filelist.txt): lines separated by CR LF, each
// entry a relative path and a checksum joined by "#".
#include <vector>

#include "runtime/types.h"

namespace app {

// One entry of the list: a file's path relative to the client folder,
// written with "\" as in the list, and the checksum text the list gives for
// it. The entries whose local file differs are the files to fetch; the
// download run checks each fetched file against its checksum.
struct PatchEntry {
  rt::Text path;
  rt::Text checksum;
};

struct RemoteList {
  bool usable = false;              // false: no line, an error page, or an unsafe entry
  std::vector<PatchEntry> entries;  // the lines that are entries, in line order
};

// Reads the list from the response body (up to its first NUL byte). Only the
// entries are kept, counted first and stored once, so a list of many
// non-entry lines costs no memory beyond its own bytes.
RemoteList ParseRemoteList(const rt::Bytes& body);

// True when an entry's path could reach outside the client folder, name
// something that is not a plain file in it, or clash with the updater's own
// files: empty, absolute, a drive or UNC prefix, a ":" anywhere, a ".."
// segment, a trailing separator, a reserved device name (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9) as any segment, bytes that are not well-formed GBK (a lead
// byte without a trail byte could hide a separator from this check), a name
// ending in ".tmp" (the partial files), or update.dat, game.dat or
// update.log in the client folder itself.
bool IsUnsafeEntryPath(const rt::Text& path);

}  // namespace app

#pragma once
// Which client file names can go into the server's file list.
//
// The updater splits list lines at "#", takes a "<" anywhere as an error page,
// refuses paths that could leave the client folder (drive prefixes, ":",
// ".." segments, device names), turns "\" into "/" byte by byte for the
// download URL, and Windows cannot create names with control characters or
// <>:"/\|?*, nor keep a trailing dot or blank. A name that fails any of these
// would break the list or never arrive, so the tool refuses it up front.
#include <string>

#include "runtime/types.h"

namespace patchtool {

// Why one path segment (a file or folder name, GBK) cannot be listed, or the
// empty string when it can.
std::string UnsafeSegmentReason(const rt::Text& segment);

// True for names the tool leaves out of the list: the updater's own working
// files at the top of the client folder ("update.dat", "game.dat",
// "update.log"; the updater refuses a list that names them; and the
// list-sequence state "update.seq") and
// partial downloads ("*.tmp") anywhere. Letter case is ignored, as on Windows.
bool IsSkippedName(const rt::Text& name, bool top_level);

// True for the one top-level name that would collide with the list itself on
// the server ("filelist.txt").
bool IsListName(const rt::Text& name);

// ASCII letters folded to lower case; GBK pairs left whole.
rt::Text FoldCase(const rt::Text& text);

}  // namespace patchtool

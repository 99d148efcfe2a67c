#pragma once
// The one rule for the names in the file list: what the updater refuses to
// read and what patchtool refuses to publish (or leaves out), with the reason.
//
// A list path is relative to the client folder, GBK, its segments separated by
// "\" alone (a GBK trail byte 0x5C is part of its character, no separator).
// It is refused when it
//   - is empty, starts with "\" (absolute or UNC), or has an empty segment;
//   - has a segment "." or "..", or one ending in a dot or a blank (Windows
//     drops those, so "..." and ".. " are ".." again);
//   - has a control character (0x01-0x1F, 0x7F), or one of # < > : " / | ? *
//     ("#" splits the line, "<" makes the list an error page, the others are
//     illegal in Windows names, ":" also names a drive or a stream, "/" is a
//     second separator, "*" and "?" are wildcards to a file search);
//   - has bytes that are no GBK character (a lead byte without its trail byte
//     could hide a separator from this check, 0x80 and 0xFF stand for none);
//   - has a segment that names a device (CON, NUL, COM1, ... also "nul.txt");
//   - ends in ".tmp" (a partial download), names one of the updater's working
//     files at the top (update.dat, game.dat, update.log, update.seq,
//     update.sums) or the list itself (filelist.txt), in any letter case.
// patchtool leaves partial downloads and working files out of the list and
// refuses every other such name; the updater refuses a list that has any.
#include <string>

#include "runtime/types.h"

namespace list {

enum class NameFault {
  kNone,
  kEmpty,               // an empty path, or an empty segment between separators
  kRooted,              // starts with a separator: absolute or UNC
  kDotSegment,          // "." or ".."
  kControlCharacter,    // 0x01-0x1F or 0x7F
  kForbiddenCharacter,  // # < > : " / \ | ? * (a "\" inside one name from disk)
  kNotGbk,              // a lead byte without a trail byte, or 0x80 / 0xFF
  kTrailingDotOrBlank,
  kDeviceName,
  kPartialFile,  // ends in ".tmp"
  kWorkingName,  // one of the updater's own files at the top
  kListName,     // the list's own name at the top
};

struct NameCheck {
  NameFault fault = NameFault::kNone;
  char character = 0;  // the character of kForbiddenCharacter
  bool ok() const { return fault == NameFault::kNone; }
};

// Why a name is refused, in words for a message or the log ("the character
// \"*\"", "a reserved device name", ...); empty for kNone.
std::string Reason(const NameCheck& check);

// The check of one segment (a file or folder name), as patchtool reads them
// from disk: every rule but those that look at the whole path.
[[nodiscard]] NameCheck CheckNameSegment(const rt::Text& segment);

// The whole rule for a list path.
[[nodiscard]] NameCheck CheckEntryPath(const rt::Text& path);

// True for the names patchtool leaves out of the list instead of refusing:
// partial downloads and the updater's working files.
inline bool IsLeftOut(const NameCheck& check) {
  return check.fault == NameFault::kPartialFile || check.fault == NameFault::kWorkingName;
}

// ASCII letters folded to lower case; GBK pairs left whole (a trail byte is
// no letter).
rt::Text FoldCase(const rt::Text& text);

}  // namespace list

#pragma once
// The names of the layout the updater and patchtool share: the list's file
// name and the patch folder on the server, the updater's own working files
// in the client folder, and the suffix of a partial download.
#include <cstdint>

#include "runtime/types.h"

namespace list {

// The file list, in the patch folder on the server.
inline constexpr char kListFileName[] = "filelist.txt";

// The patch folder of a number below the server's base URL (or a server
// root on disk): "patch/<n>/", the number in decimal.
rt::Text PatchFolder(int32_t number);

// The forms of the files (list/forms.h) below the server's base URL, shared
// by every patch folder: "forms" is no number, so it is no patch folder, and
// a form is named by its content, so two folders never disagree on one.
inline constexpr char kFormsFolder[] = "patch/forms/";
// The name of a compressed copy after its SHA-256 (lower-case hex).
inline constexpr char kZstdFormSuffix[] = ".zst";

// The updater's working files at the top of the client folder.
inline constexpr char kUpdaterCopyName[] = "update.dat";   // the copy that runs the update
inline constexpr char kGameFileName[] = "game.dat";        // the game written out of the payload
inline constexpr char kLogFileName[] = "update.log";       // the run log
inline constexpr char kSequenceFileName[] = "update.seq";  // the highest list sequence accepted
inline constexpr char kChecksumCacheName[] = "update.sums";  // checksums of unchanged local files
inline constexpr const char* kWorkingNames[] = {kUpdaterCopyName, kGameFileName, kLogFileName, kSequenceFileName,
                                                kChecksumCacheName};

// Appended to a file's path while it downloads.
inline constexpr char kPartialSuffix[] = ".tmp";
// Appended to a file's path while a form of it (a compressed copy, a delta
// patch) downloads. It ends in the partial suffix twice, so it can be neither
// an entry (no entry ends in the partial suffix) nor another entry's partial
// file (that entry would end in it).
inline constexpr char kFormPartialSuffix[] = ".tmp.tmp";

// True when two zero-terminated texts hold the same bytes; usable in a
// static_assert, where two layers spell the same name.
constexpr bool SameName(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

}  // namespace list

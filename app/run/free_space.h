#pragma once
// Room on the client's disk: the least a run needs, known before its first
// download when the list gives every file's size (a signed list does).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/check/outdated_file.h"
#include "list/client_folder.h"
#include "list/file_list.h"

namespace app {

// One file of a run as the disk sees it: the size it will have, the bytes of
// its partial file already present and of the old file it replaces (0 when
// there is none). A file that comes as a form (a compressed copy, a delta)
// needs the form too while it is turned into the file: its size, and the
// bytes of its partial file already present; the form goes once the file is in.
struct FileRoom {
  int64_t new_size = 0;
  int64_t partial = 0;
  int64_t old_size = 0;
  int64_t form_size = 0;
  int64_t form_partial = 0;
  size_t entry = 0;  // the file's index in the entries
  bool partial_absent = false;  // no partial file of the whole file was found
};

// Files systems allocate whole clusters: an old file or a partial file frees
// up to this much more than its byte count says (64 KiB covers the common
// cluster sizes).
inline constexpr int64_t kClusterSlack = 64 * 1024;

// Room figures stop here: the sizes of a list (each up to 2^63-1) could
// otherwise overflow a sum. No disk holds this much, so a run whose files
// pass it is refused like any other that cannot fit.
inline constexpr int64_t kMaxRoom = int64_t{1} << 62;

// The least room in bytes the run needs beyond what its files use now,
// whatever the order and overlap of its transfers: never more than a run
// that fits would need.
//
// Each file i ends as new_size, its partial files and its old file gone: its
// net growth is n_i = new_size - partial - old_size - form_partial. The run
// needs at least the sum of every n_i (the end), and, for every file i,
//   new_size_i - partial_i + form_size_i - form_partial_i, with the old file
//   still there (it goes only once the new one is complete and verified),
//   plus every n_j < 0 of the other files (at best all of them freed room
//   before).
// Byte counts of old and partial files are rounded to clusters on the disk,
// so they may free up to kClusterSlack more each: that much is taken off, so
// a run that would just fit is never refused. At most kMaxRoom.
[[nodiscard]] int64_t LeastRoomNeeded(const std::vector<FileRoom>& files);

// The same files fetched `transfers` at a time may need up to the new bytes
// of that many files at once: 1 when `free` bytes would not hold that, so a
// run that fits one file at a time is not failed by a full disk it made
// itself; `transfers` otherwise (and when `free` is not known, -1).
[[nodiscard]] int32_t TransfersForRoom(const std::vector<FileRoom>& files, int64_t free, int32_t transfers);

// The entries (those `include` takes, all without it) as the disk sees them
// now: the list's size, the partial file and the old file found in the
// client folder, and the form the file is tried in first (FormsToTry) with
// its partial file. Nothing when an entry's size is not known (an unsigned
// list gives none).
[[nodiscard]] std::optional<std::vector<FileRoom>> RoomOfEntries(const std::vector<OutdatedFile>& entries,
                                                                 const list::ClientFolder& client,
                                                                 const std::function<bool(size_t)>& include = {});

}  // namespace app

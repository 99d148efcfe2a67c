#pragma once
// The checksum cache: the version check takes a file whose facts (size,
// last-write and creation time, volume and file index, from one
// rt::ReadFileFacts) are those of its record at the recorded checksum,
// without reading it; every other file is read as before. Kept in
// update.sums beside update.dat (app/checksum_cache_file.h), read whole or
// not at all, written through a temporary file.
//
// Rules:
// - Any difference in the facts, a missing record, a cache that is damaged,
//   cut short or made in another folder, or a full check (/verify) means
//   reading the file.
// - A record made within kFreshWriteTicks of its file's last write is not
//   trusted: a write in the same tick of the file system's clock (FAT keeps
//   times to 2 s) after the record was made would leave the facts as they
//   were. Such a file is read again next time. That holds for the files the
//   updater installs too (another program may write one the moment it is
//   in), so the start after an update reads them once more.
// - A file changed in place with its times and size put back shows the facts
//   of its record: only reading finds it. Every kFullCheckEveryTicks the
//   check reads every file (the time of the last full check is kept in
//   update.sums), and the launcher's /verify asks for one at any time.
// - The records written are those of the files checked in this run (entries
//   no longer listed drop out) and of the files the run installed.
//
// Thread-safe: the window thread checks, the download run's threads record
// what they install.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "checksum_cache/checksum_cache_file.h"
#include "checksum_cache/sum_table.h"
#include "list/client_folder.h"
#include "list/file_list.h"
#include "runtime/file_facts.h"
#include "runtime/lock.h"
#include "runtime/types.h"

namespace sums {

// A record whose file was last written less than this before the record was
// made is not trusted (100-ns ticks: 3 s).
inline constexpr uint64_t kFreshWriteTicks = 3 * rt::kFileTimeTicksPerSecond;
// A check reads every file when the last one that did began this long ago (7
// days), or when the time kept for it is ahead of the clock.
inline constexpr uint64_t kFullCheckEveryTicks = 7ull * 24 * 3600 * rt::kFileTimeTicksPerSecond;

struct ChecksumCacheSettings {
  list::ClientFolder client;      // where the files and update.sums are
  bool enabled = true;      // UPDATER_CHECKSUM_CACHE: off, no cache is read or written
  bool full_check = false;  // /verify: every file is read; the records are made anew
  std::function<uint64_t()> now;  // the time of a record; rt::FileTimeNow when empty
};

// What Begin found.
enum class CacheLoad {
  kOff,          // the build leaves the cache out
  kFullCheck,    // /verify: not read
  kMissing,      // no update.sums (or it cannot be read): a full check
  kRefused,      // damaged, cut short, another format: a full check
  kOtherFolder,  // made in another folder (a copied client): a full check
  kFullCheckDue,  // the last full check is kFullCheckEveryTicks old (or ahead of the clock): a full check
  kLoaded,
};

struct CacheLoadReport {
  CacheLoad load = CacheLoad::kOff;
  SumsFault fault = SumsFault::kNone;  // for kRefused
  size_t records = 0;                  // for kLoaded and kFullCheckDue
  int64_t days_since_full_check = 0;   // for kFullCheckDue: whole days; -1 when ahead of the clock, or none known
};
// "12 records", "damaged (its checksum differs), full check", "12 records, the
// last full check 8 days ago, full check" ... for the log.
rt::Text Describe(const CacheLoadReport& report);

// One file's checksum at the check.
struct FileSum {
  int32_t checksum = 0;    // 0 for a missing or unreadable file, as before
  bool from_cache = false;
  int64_t bytes_read = 0;  // the file's size when it was read
};

struct CheckCounts {
  int64_t files = 0;
  int64_t from_cache = 0;
  int64_t read = 0;
  int64_t bytes_read = 0;
};

enum class CacheSave {
  kOff,        // the cache is off, or Begin was not called
  kUnchanged,  // the file already holds these records
  kWritten,
  kFailed,     // update.sums stays as it was
};
const char* ToString(CacheSave save);

class ChecksumCache {
 public:
  ChecksumCache() = default;
  ChecksumCache(const ChecksumCache&) = delete;
  ChecksumCache& operator=(const ChecksumCache&) = delete;

  // Starts a check: reads update.sums of the client folder unless the
  // settings say otherwise. Forgets the records of an earlier check.
  CacheLoadReport Begin(const ChecksumCacheSettings& settings);

  // A file's checksum in two steps, for a caller that reads the files on
  // several threads: Look takes the file's facts and, when its record
  // vouches for them (the facts match and the record is trusted), its
  // checksum; Read reads the file it did not vouch for (with
  // `between_chunks` called as checksum::FileChecksumOfFile does) and
  // records it with the facts Look took before the read.
  struct FileLook {
    std::optional<rt::FileFacts> facts;
    std::optional<FileSum> cached;
  };
  FileLook Look(const rt::Text& entry_path);
  FileSum Read(const rt::Text& entry_path, const std::optional<rt::FileFacts>& facts,
               const std::function<void()>& between_chunks = {});

  // The download run installed `entry_path` and verified its content has
  // `checksum`: recorded with the facts of the installed file, so that the
  // next start reads nothing for it. Call it after the file is in its place.
  // Safe from any thread; does nothing before Begin or with the cache off.
  void RecordInstalled(const rt::Text& entry_path, int32_t checksum);
  // The same for a list entry whose file was verified against its list
  // checksum: recorded at the checksum the list's text names. A text that is
  // not a checksum's own form (no file has it, so none was verified) records
  // nothing.
  void RecordInstalled(const list::PatchEntry& entry);

  // Room for the records of `files` installs whose paths take `path_bytes`
  // in all, allocated on the calling thread before the transfers record
  // them. Does nothing before Begin or with the cache off.
  void ReserveInstalled(size_t files, size_t path_bytes);

  // Writes the records to update.sums (through update.sums.tmp, replaced in
  // one step), unless they are already what it holds.
  CacheSave Save();

  CheckCounts counts() const;
  size_t records() const;

 private:
  rt::Text CachePath() const;
  uint64_t Now() const;
  bool Trusted(const SumRecord& record, const rt::FileFacts& facts) const;
  SumRecord MakeRecord(const rt::FileFacts& facts, int32_t checksum, SumOrigin origin) const;

  mutable rt::Lock lock_;
  bool active_ = false;  // Begin was called with the cache on
  ChecksumCacheSettings settings_;
  rt::FileIdentity folder_;
  bool folder_known_ = false;
  rt::FileFactsReader reader_;  // the facts of the files checked, each folder's volume asked once
  SumTable loaded_;         // the records found, in path order
  mutable SumTable fresh_;  // the records to write
  // What update.sums holds, as a fingerprint of its bytes rather than a
  // second copy of the records.
  std::optional<uint64_t> saved_;
  uint64_t full_check_at_ = 0;        // the last full check: this one's start when it reads every file
  uint64_t saved_full_check_at_ = 0;  // the one update.sums holds
  CheckCounts counts_;
};

}  // namespace sums

#include "checksum_cache/checksum_cache.h"

#include <mutex>
#include <optional>
#include <string_view>

#include "checksum/file_checksum.h"
#include "list/layout.h"
#include "runtime/convert.h"
#include "runtime/file_facts.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace sums {
namespace {

// The client folder as ReadFileFacts takes it: "." for the current folder,
// and a drive's root with its "\" ("C:" alone names the drive's current
// folder).
rt::Text FolderPath(const list::ClientFolder& client) {
  const rt::Text& folder = client.Folder();
  if (folder.empty()) return ".";
  if (folder.size() == 2 && folder[1] == ':') return folder + "\\";
  return folder;
}

constexpr uint64_t kTicksPerDay = 24ull * 3600 * rt::kFileTimeTicksPerSecond;

// FNV-1a over the bytes of an update.sums: whether a file already holds
// what would be written.
uint64_t Fingerprint(const rt::Bytes& bytes) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (const std::uint8_t b : bytes) hash = (hash ^ b) * 0x100000001b3ULL;
  return hash;
}

}  // namespace

rt::Text Describe(const CacheLoadReport& report) {
  switch (report.load) {
    case CacheLoad::kOff: return "off";
    case CacheLoad::kFullCheck: return "not read (/verify), full check";
    case CacheLoad::kMissing: return "none, full check";
    case CacheLoad::kRefused: return rt::Text("refused, ") + ToString(report.fault) + ", full check";
    case CacheLoad::kOtherFolder: return "made in another folder, full check";
    case CacheLoad::kFullCheckDue:
      return rt::ToText(static_cast<int64_t>(report.records)) + " records, the last full check " +
             (report.days_since_full_check < 0 ? rt::Text("not known or ahead of the clock")
                                               : rt::ToText(report.days_since_full_check) + " days ago") +
             ", full check";
    case CacheLoad::kLoaded: return rt::ToText(static_cast<int64_t>(report.records)) + " records";
  }
  return "unknown";
}

const char* ToString(CacheSave save) {
  switch (save) {
    case CacheSave::kOff: return "off";
    case CacheSave::kUnchanged: return "unchanged";
    case CacheSave::kWritten: return "written";
    case CacheSave::kFailed: return "not written";
  }
  return "unknown";
}

CacheLoadReport ChecksumCache::Begin(const ChecksumCacheSettings& settings) {
  std::lock_guard<rt::Lock> hold(lock_);
  settings_ = settings;
  active_ = settings.enabled;
  reader_ = rt::FileFactsReader();
  loaded_.Clear();
  fresh_.Clear();
  saved_.reset();
  full_check_at_ = saved_full_check_at_ = 0;
  counts_ = CheckCounts();
  CacheLoadReport report;
  if (!active_) return report;
  const uint64_t now = Now();

  const std::optional<rt::FileFacts> folder = rt::ReadFileFacts(FolderPath(settings.client));
  folder_known_ = folder.has_value();
  folder_ = folder_known_ ? folder->identity : rt::FileIdentity();
  // Read whole, bounded: a cache larger than the format allows is refused
  // without reading it.
  const int64_t size = rt::FileSize64(CachePath());
  rt::Bytes bytes;
  if (size >= 0 && size <= kMaxSumsFileBytes) bytes = rt::ReadWholeFile(CachePath());
  const bool too_large = size > kMaxSumsFileBytes;
  const SumsRead read = too_large ? SumsRead{SumsFault::kTooLarge, {}} : ParseSumsFile(bytes);
  if (read.ok() && folder_known_ && read.file.folder == folder_) {
    saved_ = Fingerprint(FormatSumsFile(read.file));
    saved_full_check_at_ = read.file.full_check_at;
  }
  const uint64_t last_full = saved_full_check_at_;
  const bool full_check_due = last_full == 0 || last_full > now || now - last_full >= kFullCheckEveryTicks;
  if (settings.full_check) {
    report.load = CacheLoad::kFullCheck;
  } else if (!folder_known_ || size < 0 || (bytes.empty() && size != 0 && !too_large)) {
    report.load = CacheLoad::kMissing;
  } else if (!read.ok()) {
    report.load = CacheLoad::kRefused;
    report.fault = read.fault;
  } else if (read.file.folder != folder_) {
    report.load = CacheLoad::kOtherFolder;
  } else if (full_check_due) {
    report.load = CacheLoad::kFullCheckDue;
    report.records = read.file.records.size();
    report.days_since_full_check =
        last_full == 0 || last_full > now ? -1 : static_cast<int64_t>((now - last_full) / kTicksPerDay);
  } else {
    report.load = CacheLoad::kLoaded;
    report.records = read.file.records.size();
    for (const SumRecord& record : read.file.records) loaded_.Put(record.path, record);
    loaded_.Sort();
  }
  // Every file is read but when the records are taken: this check is the
  // last full one from now on.
  full_check_at_ = report.load == CacheLoad::kLoaded ? last_full : now;
  return report;
}

ChecksumCache::FileLook ChecksumCache::Look(const rt::Text& entry_path) {
  const rt::Text local = settings_.client.Path(entry_path);
  FileLook look;
  std::lock_guard<rt::Lock> hold(lock_);
  look.facts = reader_.Read(local);
  ++counts_.files;
  const std::optional<SumRecord> record = look.facts ? loaded_.Find(entry_path) : std::nullopt;
  if (record && Trusted(*record, *look.facts)) {
    fresh_.Put(entry_path, *record);
    ++counts_.from_cache;
    FileSum sum;
    sum.checksum = record->checksum;
    sum.from_cache = true;
    look.cached = sum;
  }
  return look;
}

FileSum ChecksumCache::Read(const rt::Text& entry_path, const std::optional<rt::FileFacts>& facts,
                            const std::function<void()>& between_chunks) {
  const rt::Text local = settings_.client.Path(entry_path);
  FileSum sum;
  // Nothing there (the look found no file): no read is tried, which would
  // only look the name up again (a new file of an update, thousands at times).
  const std::optional<int32_t> read =
      facts ? checksum::TryFileChecksumOfFile(local, between_chunks) : std::nullopt;
  sum.checksum = read.value_or(0);
  sum.bytes_read = facts && !facts->is_folder ? facts->size : 0;

  std::lock_guard<rt::Lock> hold(lock_);
  ++counts_.read;
  counts_.bytes_read += sum.bytes_read;
  if (!active_ || !folder_known_) return sum;
  // Recorded with the facts from before the read. A write while it was read
  // leaves other facts behind (a later tick than the old last-write time, or
  // one within kFreshWriteTicks of the record), so the next start reads the
  // file again: the record never vouches for bytes it did not see.
  if (read && facts && !facts->is_folder) {
    fresh_.Put(entry_path, MakeRecord(*facts, *read, SumOrigin::kRead));
  } else {
    fresh_.Drop(entry_path);
  }
  return sum;
}

void ChecksumCache::RecordInstalled(const rt::Text& entry_path, int32_t checksum) {
  std::lock_guard<rt::Lock> hold(lock_);
  if (!active_ || !folder_known_) return;
  const std::optional<rt::FileFacts> facts = reader_.ReadPlaced(settings_.client.Path(entry_path));
  if (facts && !facts->is_folder) {
    fresh_.Put(entry_path, MakeRecord(*facts, checksum, SumOrigin::kInstalled));
  } else {
    fresh_.Drop(entry_path);
  }
}

void ChecksumCache::RecordInstalled(const list::PatchEntry& entry) {
  if (entry.checksum.value()) RecordInstalled(entry.path, *entry.checksum.value());
}

void ChecksumCache::ReserveInstalled(size_t files, size_t path_bytes) {
  std::lock_guard<rt::Lock> hold(lock_);
  if (!active_ || !folder_known_) return;
  fresh_.Reserve(files, path_bytes);
}

CacheSave ChecksumCache::Save() {
  std::lock_guard<rt::Lock> hold(lock_);
  if (!active_) return CacheSave::kOff;
  if (!folder_known_) return CacheSave::kFailed;
  // Formatted straight from the table, in one allocation of its exact size.
  fresh_.Sort();
  size_t count = 0;
  size_t total = kSumsHeaderBytes;
  fresh_.ForEach([&](std::string_view, const SumRecord& record) {
    if (!Writable(record) || count >= kMaxSumsRecords) return;
    ++count;
    total += SumRecordBytes(record);
  });
  rt::Bytes bytes = SumsFileHead(folder_, full_check_at_, count);
  bytes.reserve(total);
  size_t written = 0;
  fresh_.ForEach([&](std::string_view, const SumRecord& record) {
    if (!Writable(record) || written >= count) return;
    ++written;
    AppendSumRecord(&bytes, record);
  });
  SealSumsFile(&bytes);
  const uint64_t fingerprint = Fingerprint(bytes);
  if (saved_ == fingerprint) return CacheSave::kUnchanged;
  const rt::Text target = CachePath();
  const rt::Text writing = target + list::kPartialSuffix;
  if (!rt::WriteWholeFile(writing, bytes) || !rt::ReplaceFile(writing, target)) {
    rt::RemoveFile(writing);
    return CacheSave::kFailed;
  }
  saved_ = fingerprint;
  saved_full_check_at_ = full_check_at_;
  return CacheSave::kWritten;
}

CheckCounts ChecksumCache::counts() const {
  std::lock_guard<rt::Lock> hold(lock_);
  return counts_;
}

size_t ChecksumCache::records() const {
  std::lock_guard<rt::Lock> hold(lock_);
  fresh_.Sort();
  return fresh_.size();
}

rt::Text ChecksumCache::CachePath() const { return settings_.client.Path(list::kChecksumCacheName); }

uint64_t ChecksumCache::Now() const { return settings_.now ? settings_.now() : rt::FileTimeNow(); }

bool ChecksumCache::Trusted(const SumRecord& record, const rt::FileFacts& facts) const {
  if (facts.is_folder || record.size != facts.size || record.last_write_time != facts.last_write_time ||
      record.creation_time != facts.creation_time || record.identity != facts.identity) {
    return false;
  }
  // A file written in the record's own tick (or, by its clock, after it),
  // the files the updater installed included.
  return record.recorded_at >= record.last_write_time &&
         record.recorded_at - record.last_write_time >= kFreshWriteTicks;
}

// Without its path: the maps' key holds it.
SumRecord ChecksumCache::MakeRecord(const rt::FileFacts& facts, int32_t checksum, SumOrigin origin) const {
  SumRecord record;
  record.origin = origin;
  record.size = facts.size;
  record.last_write_time = facts.last_write_time;
  record.creation_time = facts.creation_time;
  record.identity = facts.identity;
  record.checksum = checksum;
  record.recorded_at = Now();
  return record;
}

}  // namespace sums

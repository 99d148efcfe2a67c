#include "checksum_cache/checksum_cache_file.h"

#include <cstring>

namespace sums {
namespace {

constexpr size_t kVersionEnd = 12;  // the magic and the version
constexpr size_t kChecksumOffset = 16;
constexpr size_t kCoveredFrom = 24;  // the checksum covers the bytes from here to the end
// A record without its path: length, origin, size, two times, volume, index,
// checksum, when.
constexpr size_t kRecordFixedBytes = 2 + 1 + 8 + 8 + 8 + 8 + 8 + 4 + 8;

// FNV-1a, 64 bits. Each step is a bijection of the running value for a given
// byte, so two inputs of one length that differ in one byte always differ in
// their sum: a single damaged byte is never taken.
uint64_t Fnv1a64(const std::uint8_t* data, size_t size) {
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
  return hash;
}

// Reads little-endian values from a bounded span; a read past the end sets
// `cut` and gives 0, and every read after it gives 0 too.
class Reader {
 public:
  Reader(const std::uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool cut() const { return cut_; }
  size_t left() const { return size_ - at_; }

  uint64_t Unsigned(size_t bytes) {
    if (!Has(bytes)) return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(data_[at_ + i]) << (8 * i);
    at_ += bytes;
    return value;
  }
  rt::Text Text(size_t bytes) {
    if (!Has(bytes)) return rt::Text();
    rt::Text text(reinterpret_cast<const char*>(data_ + at_), bytes);
    at_ += bytes;
    return text;
  }

 private:
  bool Has(size_t bytes) {
    if (cut_ || bytes > size_ - at_) {
      cut_ = true;
      return false;
    }
    return true;
  }

  const std::uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool cut_ = false;
};

void Put(rt::Bytes* out, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

SumsRead Refused(SumsFault fault) {
  SumsRead read;
  read.fault = fault;
  return read;
}

}  // namespace

bool SumRecord::operator==(const SumRecord& other) const {
  return path == other.path && origin == other.origin && size == other.size &&
         last_write_time == other.last_write_time && creation_time == other.creation_time &&
         identity == other.identity && checksum == other.checksum && recorded_at == other.recorded_at;
}

const char* ToString(SumsFault fault) {
  switch (fault) {
    case SumsFault::kNone: return "none";
    case SumsFault::kTooShort: return "shorter than its header";
    case SumsFault::kTooLarge: return "too large";
    case SumsFault::kMagic: return "not a checksum cache";
    case SumsFault::kVersion: return "another version";
    case SumsFault::kChecksum: return "damaged (its checksum differs)";
    case SumsFault::kRecordCount: return "wrong record count";
    case SumsFault::kRecordCut: return "a record cut short";
    case SumsFault::kBadPath: return "a bad path";
    case SumsFault::kBadOrigin: return "a bad origin";
    case SumsFault::kBadSize: return "a negative size";
    case SumsFault::kOrder: return "records out of order";
    case SumsFault::kTrailing: return "bytes after the last record";
  }
  return "unknown";
}

SumsRead ParseSumsFile(const std::uint8_t* data, size_t size) {
  // The magic and the version first: a file of another version (the 40-byte
  // header of version 1) is told as such, whatever its length.
  if (size < kVersionEnd) return Refused(SumsFault::kTooShort);
  if (size > static_cast<uint64_t>(kMaxSumsFileBytes)) return Refused(SumsFault::kTooLarge);
  if (std::memcmp(data, kSumsMagic, sizeof kSumsMagic) != 0) return Refused(SumsFault::kMagic);
  if (Reader(data + sizeof kSumsMagic, 4).Unsigned(4) != kSumsVersion) return Refused(SumsFault::kVersion);
  if (size < kSumsHeaderBytes) return Refused(SumsFault::kTooShort);
  Reader header(data + kVersionEnd, kSumsHeaderBytes - kVersionEnd);
  const uint64_t count = header.Unsigned(4);
  const uint64_t checksum = header.Unsigned(8);
  if (Fnv1a64(data + kCoveredFrom, size - kCoveredFrom) != checksum) return Refused(SumsFault::kChecksum);
  // Each record takes at least its fixed part and one byte of path: a count
  // the bytes cannot hold is refused before anything is reserved for it.
  if (count > kMaxSumsRecords) return Refused(SumsFault::kTooLarge);
  if (count > (size - kSumsHeaderBytes) / (kRecordFixedBytes + 1)) return Refused(SumsFault::kRecordCount);

  SumsRead read;
  read.file.folder.volume_serial = header.Unsigned(8);
  read.file.folder.file_index = header.Unsigned(8);
  read.file.full_check_at = header.Unsigned(8);
  Reader body(data + kSumsHeaderBytes, size - kSumsHeaderBytes);
  std::vector<SumRecord>& records = read.file.records;
  records.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    SumRecord record;
    const size_t path_bytes = static_cast<size_t>(body.Unsigned(2));
    if (body.cut()) return Refused(SumsFault::kRecordCut);
    if (path_bytes == 0 || path_bytes > kMaxSumsPathBytes) return Refused(SumsFault::kBadPath);
    record.path = body.Text(path_bytes);
    const uint64_t origin = body.Unsigned(1);
    record.size = static_cast<int64_t>(body.Unsigned(8));
    record.last_write_time = body.Unsigned(8);
    record.creation_time = body.Unsigned(8);
    record.identity.volume_serial = body.Unsigned(8);
    record.identity.file_index = body.Unsigned(8);
    record.checksum = static_cast<int32_t>(static_cast<uint32_t>(body.Unsigned(4)));
    record.recorded_at = body.Unsigned(8);
    if (body.cut()) return Refused(SumsFault::kRecordCut);
    if (origin > static_cast<uint64_t>(SumOrigin::kInstalled)) return Refused(SumsFault::kBadOrigin);
    record.origin = static_cast<SumOrigin>(origin);
    if (record.size < 0) return Refused(SumsFault::kBadSize);
    if (!records.empty() && !(records.back().path < record.path)) return Refused(SumsFault::kOrder);
    records.push_back(std::move(record));
  }
  if (body.left() != 0) return Refused(SumsFault::kTrailing);
  read.fault = SumsFault::kNone;
  return read;
}

bool Writable(const SumRecord& record) {
  return !record.path.empty() && record.path.size() <= kMaxSumsPathBytes && record.size >= 0;
}

rt::Bytes SumsFileHead(const rt::FileIdentity& folder, uint64_t full_check_at, size_t count) {
  rt::Bytes out(kSumsMagic, kSumsMagic + sizeof kSumsMagic);
  Put(&out, kSumsVersion, 4);
  Put(&out, count, 4);
  Put(&out, 0, 8);  // the checksum, sealed last
  Put(&out, folder.volume_serial, 8);
  Put(&out, folder.file_index, 8);
  Put(&out, full_check_at, 8);
  return out;
}

size_t SumRecordBytes(const SumRecord& record) { return kRecordFixedBytes + record.path.size(); }

void AppendSumRecord(rt::Bytes* out, const SumRecord& record) {
  Put(out, record.path.size(), 2);
  out->insert(out->end(), record.path.begin(), record.path.end());
  Put(out, static_cast<uint64_t>(record.origin), 1);
  Put(out, static_cast<uint64_t>(record.size), 8);
  Put(out, record.last_write_time, 8);
  Put(out, record.creation_time, 8);
  Put(out, record.identity.volume_serial, 8);
  Put(out, record.identity.file_index, 8);
  Put(out, static_cast<uint32_t>(record.checksum), 4);
  Put(out, record.recorded_at, 8);
}

rt::Bytes FormatSumsFile(const SumsFile& file) {
  rt::Bytes out = SumsFileHead(file.folder, file.full_check_at, file.records.size());
  for (const SumRecord& record : file.records) AppendSumRecord(&out, record);
  SealSumsFile(&out);
  return out;
}

void SealSumsFile(rt::Bytes* bytes) {
  if (bytes->size() < kSumsHeaderBytes) return;
  const uint64_t checksum = Fnv1a64(bytes->data() + kCoveredFrom, bytes->size() - kCoveredFrom);
  for (size_t i = 0; i < 8; ++i) (*bytes)[kChecksumOffset + i] = static_cast<std::uint8_t>(checksum >> (8 * i));
}

}  // namespace sums

#pragma once
// update.sums, the checksum cache beside update.dat: for each list entry the
// facts of its local file when its checksum was taken, so that a later start
// can take an unchanged file at its recorded checksum without reading it.
//
// The file is binary, little-endian, and taken whole or not at all:
//
//   offset  size  field
//        0     8  magic "UPDSUMS" 0x1A
//        8     4  version (2)
//       12     4  record count
//       16     8  FNV-1a (64-bit) of every byte from offset 24 to the end
//       24     8  the client folder's volume serial
//       32     8  the client folder's file index
//       40     8  when the last full check began (the record times' ticks;
//                 0: none known)
//       48        the records, in strictly ascending byte order of their paths:
//
//     2  path length, 1 .. kMaxSumsPathBytes
//     n  the path as the list writes it (GBK, "\" separators)
//     1  origin: 0 taken by reading the file, 1 installed by the updater
//     8  size (0 .. 2^63-1)
//     8  last-write time  } 100-ns ticks since 1601 (rt::FileFacts)
//     8  creation time    }
//     8  volume serial
//     8  file index
//     4  the file's 32-bit checksum
//     8  when the record was made (the same ticks)
//
// Version 1 had no time of the last full check; it is refused like any other
// version, and the start that finds one makes a full check.
//
// The reader accepts exactly what the writer writes: any other byte, a
// record cut short, bytes after the last record, a record count that does
// not match, paths out of order or twice, refuse the whole file. A file of
// another folder (a copied client) parses, and the cache then ignores it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/file_facts.h"
#include "runtime/types.h"

namespace sums {

inline constexpr std::uint8_t kSumsMagic[8] = {'U', 'P', 'D', 'S', 'U', 'M', 'S', 0x1A};
inline constexpr uint32_t kSumsVersion = 2;
inline constexpr size_t kSumsHeaderBytes = 48;
inline constexpr size_t kMaxSumsPathBytes = 4096;
// A client of a million files, with long paths, fits; the cache is read in
// one piece, so anything larger is refused unread.
inline constexpr uint32_t kMaxSumsRecords = 1000000;
inline constexpr int64_t kMaxSumsFileBytes = 256 << 20;

// How the record's checksum was had.
enum class SumOrigin : std::uint8_t {
  kRead = 0,       // the version check read the file
  kInstalled = 1,  // the download run installed the file with this checksum
};

struct SumRecord {
  rt::Text path;  // the list entry's path
  SumOrigin origin = SumOrigin::kRead;
  int64_t size = 0;
  uint64_t last_write_time = 0;
  uint64_t creation_time = 0;
  rt::FileIdentity identity;
  int32_t checksum = 0;
  uint64_t recorded_at = 0;

  bool operator==(const SumRecord& other) const;
  bool operator!=(const SumRecord& other) const { return !(*this == other); }
};

struct SumsFile {
  rt::FileIdentity folder;         // the client folder the records were made in
  uint64_t full_check_at = 0;      // when the last check that read every file began; 0: none known
  std::vector<SumRecord> records;  // strictly ascending by path
};

enum class SumsFault {
  kNone,
  kTooShort,      // shorter than the header
  kTooLarge,      // past kMaxSumsFileBytes, or a record count past kMaxSumsRecords
  kMagic,         // not an update.sums
  kVersion,       // another version of the format
  kChecksum,      // the bytes after the header's checksum are not the ones it was made over
  kRecordCount,   // not the number of records there are
  kRecordCut,     // a record runs past the end
  kBadPath,       // an empty path or one longer than kMaxSumsPathBytes
  kBadOrigin,     // an origin byte other than 0 and 1
  kBadSize,       // a negative size
  kOrder,         // a path not above the one before it
  kTrailing,      // bytes after the last record
};
const char* ToString(SumsFault fault);

struct SumsRead {
  SumsFault fault = SumsFault::kTooShort;
  SumsFile file;  // empty unless ok
  bool ok() const { return fault == SumsFault::kNone; }
};

// Reads a whole update.sums; reads nothing outside [data, data + size).
[[nodiscard]] SumsRead ParseSumsFile(const std::uint8_t* data, size_t size);
inline SumsRead ParseSumsFile(const rt::Bytes& bytes) { return ParseSumsFile(bytes.data(), bytes.size()); }

// Whether a record can be written: a path of 1 .. kMaxSumsPathBytes bytes and
// a size that is not negative.
bool Writable(const SumRecord& record);

// The bytes of update.sums. The records must be Writable and strictly
// ascending by path (the cache keeps them so); ParseSumsFile of the result
// gives them back.
rt::Bytes FormatSumsFile(const SumsFile& file);
// FormatSumsFile in pieces, for a writer that keeps its records elsewhere:
// the head for `count` records, then each record in path order (the bytes
// SumRecordBytes says), then SealSumsFile.
rt::Bytes SumsFileHead(const rt::FileIdentity& folder, uint64_t full_check_at, size_t count);
size_t SumRecordBytes(const SumRecord& record);
void AppendSumRecord(rt::Bytes* out, const SumRecord& record);

// Sets the header's checksum to that of the bytes it covers (the writer's
// last step; the tests and the fuzz target make inputs whose records, not
// their checksum, are to be judged). Bytes shorter than the header stay.
void SealSumsFile(rt::Bytes* bytes);

}  // namespace sums

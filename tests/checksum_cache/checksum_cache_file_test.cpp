// update.sums read and written: what the writer writes comes back, and
// anything else is refused whole, with its reason.
#include <gtest/gtest.h>

#include <functional>

#include "checksum_cache/checksum_cache_file.h"

using namespace sums;

namespace {

SumRecord Record(const rt::Text& path, int32_t checksum, SumOrigin origin = SumOrigin::kRead) {
  SumRecord r;
  r.path = path;
  r.origin = origin;
  r.size = (int64_t{5} << 32) + 17;  // past 4 GiB
  r.last_write_time = 133500000000000000ull;
  r.creation_time = 133400000000000000ull;
  r.identity = {0xC0FFEE12u, 0x0001000000004321ull};
  r.checksum = checksum;
  r.recorded_at = 133500000100000000ull;
  return r;
}

SumsFile Sample() {
  SumsFile file;
  file.folder = {0xC0FFEE12u, 0x00020000000000AAull};
  file.full_check_at = 133500000000000000ull;
  // Byte order: "Zeta" before "data" (upper case first), GBK after ASCII.
  file.records = {Record("Zeta.txt", -648389339), Record("data\\map\\town.dat", 0, SumOrigin::kInstalled),
                  Record("数据\\地图.bin", 2147483647)};
  return file;
}

}  // namespace

TEST(ChecksumCacheFile, WhatIsWrittenComesBack) {
  for (const SumsFile& file : {SumsFile(), Sample()}) {
    const rt::Bytes bytes = FormatSumsFile(file);
    const SumsRead read = ParseSumsFile(bytes);
    ASSERT_TRUE(read.ok()) << ToString(read.fault);
    EXPECT_EQ(read.file.folder, file.folder);
    EXPECT_EQ(read.file.full_check_at, file.full_check_at);
    EXPECT_EQ(read.file.records, file.records);
    EXPECT_EQ(FormatSumsFile(read.file), bytes);
  }
  // The header as documented: magic, version 2, the count.
  const rt::Bytes bytes = FormatSumsFile(Sample());
  EXPECT_EQ(rt::Bytes(bytes.begin(), bytes.begin() + 16),
            (rt::Bytes{'U', 'P', 'D', 'S', 'U', 'M', 'S', 0x1A, 2, 0, 0, 0, 3, 0, 0, 0}));
  EXPECT_EQ(bytes.size(), kSumsHeaderBytes + 3 * 55 + 8 + 17 + 13);
}

TEST(ChecksumCacheFile, EveryDamageRefusesTheWholeFile) {
  const rt::Bytes good = FormatSumsFile(Sample());
  const size_t first_record = kSumsHeaderBytes;
  const size_t second_record = first_record + 55 + 8;
  struct Case {
    const char* what;
    std::function<void(rt::Bytes*)> damage;
    bool reseal;  // the checksum made right afterwards: the structure itself is refused
    SumsFault fault;
  } const cases[] = {
      {"empty", [](rt::Bytes* b) { b->clear(); }, false, SumsFault::kTooShort},
      {"header cut", [](rt::Bytes* b) { b->resize(kSumsHeaderBytes - 1); }, false, SumsFault::kTooShort},
      {"magic", [](rt::Bytes* b) { (*b)[0] = 'u'; }, false, SumsFault::kMagic},
      {"version 3", [](rt::Bytes* b) { (*b)[8] = 3; }, false, SumsFault::kVersion},
      {"a version 1 file, its header 40 bytes", [](rt::Bytes* b) { (*b)[8] = 1, b->resize(40); }, false,
       SumsFault::kVersion},
      {"the time of the full check", [](rt::Bytes* b) { (*b)[40] ^= 1; }, false, SumsFault::kChecksum},
      {"a checksum byte", [](rt::Bytes* b) { (*b)[16] ^= 1; }, false, SumsFault::kChecksum},
      {"the folder", [](rt::Bytes* b) { (*b)[24] ^= 1; }, false, SumsFault::kChecksum},
      {"a record's checksum", [&](rt::Bytes* b) { (*b)[second_record - 12] ^= 0x80; }, false, SumsFault::kChecksum},
      {"the last byte", [](rt::Bytes* b) { b->back() ^= 0xFF; }, false, SumsFault::kChecksum},
      {"cut inside the last record", [](rt::Bytes* b) { b->resize(b->size() - 5); }, false, SumsFault::kChecksum},
      {"cut inside, resealed", [](rt::Bytes* b) { b->resize(b->size() - 5); }, true, SumsFault::kRecordCut},
      {"a byte more", [](rt::Bytes* b) { b->push_back(0); }, false, SumsFault::kChecksum},
      {"a byte more, resealed", [](rt::Bytes* b) { b->push_back(0); }, true, SumsFault::kTrailing},
      {"a record fewer counted", [](rt::Bytes* b) { (*b)[12] = 2; }, false, SumsFault::kTrailing},
      {"a record more counted", [](rt::Bytes* b) { (*b)[12] = 4; }, false, SumsFault::kRecordCount},
      {"a count the bytes cannot hold", [](rt::Bytes* b) { (*b)[13] = 3; }, false, SumsFault::kRecordCount},
      {"a count past the most records", [](rt::Bytes* b) { (*b)[15] = 0x7F; }, false, SumsFault::kTooLarge},
      {"an empty path", [&](rt::Bytes* b) { (*b)[first_record] = 0; }, true, SumsFault::kBadPath},
      {"a path too long", [&](rt::Bytes* b) { (*b)[first_record] = 1, (*b)[first_record + 1] = 0x10; }, true,
       SumsFault::kBadPath},
      {"origin 2", [&](rt::Bytes* b) { (*b)[first_record + 2 + 8] = 2; }, true, SumsFault::kBadOrigin},
      {"a negative size", [&](rt::Bytes* b) { (*b)[first_record + 2 + 8 + 1 + 7] = 0x80; }, true,
       SumsFault::kBadSize},
      {"paths out of order", [&](rt::Bytes* b) { (*b)[second_record + 2] = 'Z'; }, true, SumsFault::kOrder},
  };
  for (const Case& c : cases) {
    rt::Bytes bytes = good;
    c.damage(&bytes);
    if (c.reseal) SealSumsFile(&bytes);
    const SumsRead read = ParseSumsFile(bytes);
    EXPECT_EQ(read.fault, c.fault) << c.what << ": " << ToString(read.fault);
    EXPECT_TRUE(read.file.records.empty()) << c.what;
  }
  // The same path twice is out of order too.
  SumsFile twice = Sample();
  twice.records[1].path = twice.records[0].path;
  EXPECT_EQ(ParseSumsFile(FormatSumsFile(twice)).fault, SumsFault::kOrder);
}

TEST(ChecksumCacheFile, NoSingleChangedByteIsTaken) {
  // Every byte, every one-bit and whole-byte change: refused, never read as
  // other records.
  const rt::Bytes good = FormatSumsFile(Sample());
  for (size_t i = 0; i < good.size(); ++i) {
    for (const std::uint8_t flip : {0x01, 0x80, 0xFF}) {
      rt::Bytes bytes = good;
      bytes[i] ^= flip;
      ASSERT_FALSE(ParseSumsFile(bytes).ok()) << "byte " << i << " ^ " << int(flip);
    }
  }
}

TEST(ChecksumCacheFile, WritableRecords) {
  EXPECT_TRUE(Writable(Record("a", 1)));
  EXPECT_FALSE(Writable(Record("", 1)));
  EXPECT_TRUE(Writable(Record(rt::Text(kMaxSumsPathBytes, 'a'), 1)));
  EXPECT_FALSE(Writable(Record(rt::Text(kMaxSumsPathBytes + 1, 'a'), 1)));
  SumRecord negative = Record("a", 1);
  negative.size = -1;
  EXPECT_FALSE(Writable(negative));
}

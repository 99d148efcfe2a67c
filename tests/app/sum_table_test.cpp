// The checksum cache's compact table: the latest record of a path wins, a
// dropped path has none, and the order is the file's (ascending bytes).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "checksum_cache/sum_table.h"

namespace {

sums::SumRecord Rec(int32_t checksum, sums::SumOrigin origin = sums::SumOrigin::kRead) {
  sums::SumRecord r;
  r.origin = origin;
  r.size = checksum * 10;
  r.last_write_time = 7;
  r.creation_time = 8;
  r.identity = {9, static_cast<uint64_t>(checksum)};
  r.checksum = checksum;
  r.recorded_at = 11;
  return r;
}

std::string Listing(const sums::SumTable& table) {
  std::string out;
  table.ForEach([&](std::string_view path, const sums::SumRecord& r) {
    out += std::string(path) + "=" + std::to_string(r.checksum) +
           (r.origin == sums::SumOrigin::kInstalled ? "i" : "") + " ";
  });
  return out;
}

TEST(SumTable, LatestRecordOfEachPathInByteOrder) {
  struct Step {
    const char* path;
    int32_t checksum;  // 0: Drop
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    const char* listing;
  } const cases[] = {
      {"out of order", {{"b", 2}, {"a", 1}, {"c\\d", 3}}, "a=1 b=2 c\\d=3 "},
      {"replaced", {{"a", 1}, {"b", 2}, {"a", 5}}, "a=5 b=2 "},
      {"dropped", {{"a", 1}, {"b", 2}, {"a", 0}}, "b=2 "},
      {"dropped then put again", {{"a", 1}, {"a", 0}, {"a", 4}}, "a=4 "},
      {"dropped and never put", {{"x", 0}}, ""},
      {"high bytes after ASCII", {{"\xd6\xd0", 1}, {"z", 2}}, "z=2 \xd6\xd0=1 "},
  };
  for (const Case& c : cases) {
    sums::SumTable table;
    for (const Step& s : c.steps) {
      if (s.checksum == 0) {
        table.Drop(s.path);
      } else {
        table.Put(s.path, Rec(s.checksum));
      }
    }
    table.Sort();
    EXPECT_EQ(Listing(table), c.listing) << c.name;
  }
}

TEST(SumTable, FindsSortedRecordsWithAllTheirFacts) {
  sums::SumTable table;
  // Enough names for several blocks of names.
  for (int i = 2999; i >= 0; --i) table.Put("data\\" + std::string(40, 'p') + std::to_string(i), Rec(i + 1));
  table.Put("data\\" + std::string(40, 'p') + "7", Rec(77, sums::SumOrigin::kInstalled));
  EXPECT_FALSE(table.Find("data\\" + std::string(40, 'p') + "7"));  // not sorted yet
  table.Sort();
  EXPECT_EQ(table.size(), 3000u);
  const auto found = table.Find("data\\" + std::string(40, 'p') + "7");
  ASSERT_TRUE(found);
  sums::SumRecord want = Rec(77, sums::SumOrigin::kInstalled);
  want.path = "data\\" + std::string(40, 'p') + "7";
  EXPECT_EQ(*found, want);
  EXPECT_FALSE(table.Find("data\\" + std::string(40, 'p')));
  EXPECT_FALSE(table.Find("zzz"));
}

TEST(SumTable, ReservedRoomHoldsEveryRecordWhole) {
  // {records put before Reserve, reserved for, put after, each path's length}
  const size_t cases[][4] = {{5, 4000, 4000, 40}, {3, 40, 40, 4096}, {10, 50, 200, 700}};
  for (const auto& c : cases) {
    sums::SumTable table;
    const auto path_of = [&c](size_t i) { return std::to_string(i) + std::string(c[3] - 6, 'n') + "\\end"; };
    for (size_t i = 0; i < c[0]; ++i) table.Put(path_of(i), Rec(static_cast<int32_t>(i) + 1));
    table.Reserve(c[1], c[1] * c[3]);
    for (size_t i = c[0]; i < c[0] + c[2]; ++i) table.Put(path_of(i), Rec(static_cast<int32_t>(i) + 1));
    table.Sort();
    ASSERT_EQ(table.size(), c[0] + c[2]) << c[3];
    for (size_t i = 0; i < c[0] + c[2]; ++i) {
      const auto found = table.Find(path_of(i));
      ASSERT_TRUE(found && found->checksum == static_cast<int32_t>(i) + 1) << c[3] << " " << i;
    }
  }
}

}  // namespace

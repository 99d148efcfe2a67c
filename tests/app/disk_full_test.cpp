// The full-disk text: sizes as the label shows them, rounded up so that
// freeing what it says is enough.
#include <gtest/gtest.h>

#include "app/disk_full.h"
#include "app/flow.h"
#include "runtime/text.h"

using namespace app;

TEST(DiskFull, SizeTexts) {
  constexpr int64_t kKiB = 1024, kMiB = 1024 * kKiB, kGiB = 1024 * kMiB;
  struct Case {
    int64_t bytes;
    const char* text;
  } const cases[] = {
      {-5, "0 B"},
      {0, "0 B"},
      {1023, "1023 B"},
      {kKiB, "1.0 KB"},
      {kKiB + kKiB / 2, "1.5 KB"},
      {kKiB + kKiB / 2 + 1, "1.6 KB"},  // rounded up
      {10 * kKiB - 1, "10 KB"},         // 9.999 shows as whole
      {999 * kKiB, "999 KB"},
      {1000 * kKiB, "1.0 MB"},          // never four digits
      {700 * kMiB, "700 MB"},
      {kGiB + kGiB / 2, "1.5 GB"},
      {3 * kGiB, "3.0 GB"},
      {50 * kGiB + 1, "51 GB"},
      {2048 * kGiB, "2.0 TB"},
  };
  for (const Case& c : cases) EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
}

TEST(DiskFull, TheLabelTextNamesTheRoomNeededWhenKnown) {
  EXPECT_EQ(DiskFullText(0), kTextDiskFull);
  EXPECT_EQ(DiskFullText(-1), kTextDiskFull);
  EXPECT_EQ(DiskFullText(int64_t{3} << 29), rt::FormatText(kTextDiskFullNeed, "1.5 GB"));
}

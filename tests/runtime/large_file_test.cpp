// Files past 2 GiB and 4 GiB: seek, position, size, read and write at every
// 32/64-bit boundary, on sparse files (only the bytes written take room, and
// the folder goes when the test ends).
#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/convert.h"
#include "runtime/files.h"
#include "tests/support/temp_folder.h"

using namespace rt;

namespace {

constexpr int64_t k2G = int64_t{1} << 31;
constexpr int64_t k4G = int64_t{1} << 32;

class LargeFileTest : public ::testing::Test {
 protected:
  Text Path(const Text& name) const { return folder_.path() + "\\" + name; }
  testsupport::TempFolder folder_{"rt large"};
};

TEST_F(LargeFileTest, SeekWriteReadAndSizeAcrossEveryBoundary) {
  struct Case {
    int64_t offset;       // where "abcd" is written
    int32_t low_32_size;  // FileSize: the low 32 bits of offset + 4
  } const cases[] = {
      {k2G - 3, static_cast<int32_t>(0x80000001u)},  // the write crosses 2^31
      {k2G - 1, static_cast<int32_t>(0x80000003u)},
      {k2G, static_cast<int32_t>(0x80000004u)},
      {k4G - 2, 2},  // the write crosses 2^32
      {k4G - 1, 3},
      {k4G, 4},
      {k4G + 1, 5},
  };
  const Text data = "abcd";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    const Text path = Path("sparse " + ToText(c.offset));
    {
      OpenedFile f(OpenFile(path, kModeOpenOrCreateRW, kShareDenyNone));
      ASSERT_TRUE(f);
      ASSERT_TRUE(SeekFile(f.get(), c.offset));
      EXPECT_EQ(FilePosition(f.get()), c.offset);
      ASSERT_TRUE(WriteToFile(f.get(), ToBytes(data)));
      EXPECT_EQ(FilePosition(f.get()), c.offset + 4);
      // The hole before the write reads as zeros, then the bytes written.
      ASSERT_TRUE(SeekFile(f.get(), c.offset - 2));
      std::uint8_t got[8] = {1, 1, 1, 1, 1, 1, 1, 1};
      EXPECT_EQ(ReadFull(f.get(), got, sizeof got), 6);
      EXPECT_EQ(Text(got, got + 6), Text(2, '\0') + data);
      EXPECT_EQ(FilePosition(f.get()), c.offset + 4);
      ASSERT_TRUE(SeekFile(f.get(), 0));
      ASSERT_TRUE(SeekToEnd(f.get()));
      EXPECT_EQ(FilePosition(f.get()), c.offset + 4);
    }
    EXPECT_EQ(FileSize64(path), c.offset + 4);
    EXPECT_EQ(FileSize(path), c.low_32_size);
    // Appending past the end of an existing large file, opened again.
    {
      OpenedFile f(OpenFile(path, kModeOpenOrCreate, kShareDenyNone));
      ASSERT_TRUE(f);
      ASSERT_TRUE(SeekToEnd(f.get()));
      ASSERT_TRUE(WriteToFile(f.get(), ToBytes(Text("e"))));
    }
    EXPECT_EQ(FileSize64(path), c.offset + 5);
    EXPECT_TRUE(RemoveFile(path));
  }
}

TEST_F(LargeFileTest, AFileLargerThanTheProcessCanHoldIsNotReadWhole) {
  const bool wide = sizeof(size_t) == 8;
  struct Case {
    int64_t size;
    bool fits;
  } const cases[] = {
      {-1, false}, {0, true}, {k2G - 1, true}, {k2G, wide}, {k4G + 1, wide}, {INT64_MAX, wide},
  };
  for (const Case& c : cases) EXPECT_EQ(FitsInMemory(c.size), c.fits) << c.size;

  if (wide) return;  // a 64-bit process could read it; not worth 4 GiB of memory here
  const Text path = Path("too large");
  {
    OpenedFile f(OpenFile(path, kModeOpenOrCreate, kShareDenyNone));
    ASSERT_TRUE(f);
    ASSERT_TRUE(SeekFile(f.get(), k4G + 1));  // a size that cut to 32 bits reads as 1 byte
    ASSERT_TRUE(WriteToFile(f.get(), ToBytes(Text("x"))));
  }
  EXPECT_TRUE(ReadWholeFile(path).empty());
  EXPECT_TRUE(RemoveFile(path));
}

TEST_F(LargeFileTest, SeeksOutsideTheFileRangeAreRefused) {
  OpenedFile f(OpenFile(Path("small"), kModeOpenOrCreateRW, kShareDenyNone));
  ASSERT_TRUE(f);
  EXPECT_FALSE(SeekFile(f.get(), -1));
  EXPECT_FALSE(SeekFile(f.get(), INT64_MIN));
  EXPECT_EQ(FilePosition(f.get()), 0);
}

}  // namespace

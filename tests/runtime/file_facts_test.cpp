// File facts: what one look at a file or folder tells, the identity that
// tells two spellings of one file apart from two files, and a file held open
// without sharing still answering.
#include <gtest/gtest.h>

#include "runtime/convert.h"
#include "runtime/file_facts.h"
#include "runtime/files.h"
#include "tests/support/temp_folder.h"

using namespace rt;

namespace {

// 2020-01-01 00:00:00 UTC as a FILETIME.
constexpr uint64_t k2020 = 132223104000000000u;
constexpr uint64_t kTenSeconds = 10 * kFileTimeTicksPerSecond;

class FileFactsTest : public ::testing::Test {
 protected:
  Text Path(const Text& name) const { return folder_.path() + "\\" + name; }
  void Write(const Text& name, const Text& content) { ASSERT_TRUE(WriteWholeFile(Path(name), ToBytes(content))); }
  testsupport::TempFolder folder_{"rt facts"};
};

bool Near(uint64_t a, uint64_t b) { return (a > b ? a - b : b - a) < kTenSeconds; }

TEST_F(FileFactsTest, NothingThereGivesNoFacts) {
  for (const Text& path : {Text(), Path("missing"), Path("missing\\below")})
    EXPECT_FALSE(ReadFileFacts(path).has_value()) << path;
}

TEST_F(FileFactsTest, AFileItsSizeTimesAndIdentity) {
  Write("a.dat", "hello");
  const uint64_t now = FileTimeNow();
  EXPECT_GT(now, k2020);
  const std::optional<FileFacts> a = ReadFileFacts(Path("a.dat"));
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->size, 5);
  EXPECT_FALSE(a->is_folder);
  EXPECT_TRUE(Near(a->last_write_time, now)) << a->last_write_time << " vs " << now;
  EXPECT_TRUE(Near(a->creation_time, now)) << a->creation_time << " vs " << now;
  EXPECT_NE(a->identity.file_index, 0u);

  // The same file looked at again: the same facts.
  const std::optional<FileFacts> again = ReadFileFacts(Path("a.dat"));
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->identity, a->identity);
  EXPECT_EQ(again->last_write_time, a->last_write_time);
  EXPECT_EQ(again->size, a->size);
}

// A checksum cache must see another file moved into a name even when its
// size and content match: its identity differs.
TEST_F(FileFactsTest, AnotherFileOfTheSameSizeMovedIntoPlaceHasAnotherIdentity) {
  Write("a.dat", "same");
  Write("b.dat", "same");
  const FileIdentity before = ReadFileFacts(Path("a.dat"))->identity;
  const FileIdentity other = ReadFileFacts(Path("b.dat"))->identity;
  EXPECT_NE(before, other);
  ASSERT_TRUE(RemoveFile(Path("a.dat")));
  ASSERT_TRUE(MoveFile(Path("b.dat"), Path("a.dat")));
  const std::optional<FileFacts> after = ReadFileFacts(Path("a.dat"));
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(after->size, 4);
  EXPECT_EQ(after->identity, other);
}

TEST_F(FileFactsTest, AFolderAnswersUnderEverySpelling) {
  CreateFolderTree(Path("dir\\sub"));
  const std::optional<FileFacts> dir = ReadFileFacts(Path("dir"));
  ASSERT_TRUE(dir.has_value());
  EXPECT_TRUE(dir->is_folder);
  EXPECT_EQ(dir->size, 0);
  for (const Text& spelling : {Path("dir\\"), Path("dir/"), Path("dir\\sub\\.."), Path(".\\dir")}) {
    const std::optional<FileFacts> same = ReadFileFacts(spelling);
    ASSERT_TRUE(same.has_value()) << spelling;
    EXPECT_EQ(same->identity, dir->identity) << spelling;
  }
  EXPECT_NE(ReadFileFacts(Path("dir\\sub"))->identity, dir->identity);
}

TEST_F(FileFactsTest, AFileHeldOpenWithoutSharingStillAnswers) {
  Write("held.dat", "game data");
  OpenedFile game(OpenFile(Path("held.dat"), kModeReadWrite, kShareExclusive));
  ASSERT_TRUE(game);
  const std::optional<FileFacts> held = ReadFileFacts(Path("held.dat"));
  ASSERT_TRUE(held.has_value());
  EXPECT_EQ(held->size, 9);
}

// The reader for many files gives what ReadFileFacts gives, file by file,
// whatever folder each lies in and however its path is written.
TEST_F(FileFactsTest, TheReaderForManyFilesGivesTheSameFacts) {
  CreateFolderTree(Path("data\\sub"));
  CreateFolderTree(Path("運行 目录"));  // 運 ends in the byte of "\"
  Write("a.dat", "top");
  Write("data\\b.dat", "nested");
  Write("data\\sub\\c.dat", "deeper still");
  Write("data\\sub\\d.dat", "");
  Write("運行 目录\\地图 運.dat", "gbk");
  FileFactsReader reader;
  FileFactsReader placed;
  const Text files[] = {"a.dat", "data\\b.dat", "data/sub/c.dat", "data\\sub\\d.dat", "運行 目录\\地图 運.dat",
                        "DATA\\B.Dat"};  // another spelling of a name: the file system folds letter case
  for (int round = 0; round < 2; ++round) {  // the second round from the folders already listed
    for (const Text& name : {files[0], files[1], files[2], files[3], files[4], files[5], Text("data"),
                             Text("missing.dat"), Text("data\\missing\\e.dat")}) {
      const std::optional<FileFacts> one = ReadFileFacts(Path(name));
      // The reader's two ways: from the folders' listings, and a file just
      // put in place with its folder's volume kept.
      for (const std::optional<FileFacts>& many : {reader.Read(Path(name)), placed.ReadPlaced(Path(name))}) {
        ASSERT_EQ(one.has_value(), many.has_value()) << name;
        if (!one) continue;
        EXPECT_EQ(many->size, one->size) << name;
        EXPECT_EQ(many->last_write_time, one->last_write_time) << name;
        EXPECT_EQ(many->creation_time, one->creation_time) << name;
        EXPECT_EQ(many->identity, one->identity) << name;
        EXPECT_EQ(many->is_folder, one->is_folder) << name;
      }
    }
  }
  EXPECT_FALSE(reader.Read("").has_value());
  EXPECT_FALSE(placed.ReadPlaced("").has_value());
#ifdef _WIN32
  // Every plain file came from its folder's listing (folders and missing
  // names were looked at one by one).
  EXPECT_EQ(reader.listed(), 2 * (sizeof files / sizeof files[0]));
#endif
}

}  // namespace

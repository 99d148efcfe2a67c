#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/user_values.h"
#include "tests/support/temp_folder.h"

using namespace rt;

namespace {

// Every test works in a folder of its own (Windows separators on purpose:
// the POSIX backend turns them into slashes).
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FolderExists(dir_)); }
  Text Path(const Text& name) const { return dir_ + "\\" + name; }

  testsupport::TempFolder folder_{"rt files"};
  const Text& dir_ = folder_.path();
};

}  // namespace

TEST(ParentFolderOf, CutsAtTheLastSeparatorOnly) {
  EXPECT_EQ(ParentFolderOf("C:\\game\\data\\a.pak"), "C:\\game\\data");
  EXPECT_EQ(ParentFolderOf("a.pak"), "");
  EXPECT_EQ(ParentFolderOf("\\a"), "");
  // 運 ends in the byte 0x5C: no separator.
  EXPECT_EQ(ParentFolderOf("C:\\運行\\遊戲.pak"), "C:\\運行");
  EXPECT_EQ(ParentFolderOf("運行遊戲.pak"), "");
}

TEST_F(FilesTest, SizesOfMissingEmptyAndWrittenFiles) {
  EXPECT_EQ(FileSize(Path("missing")), -1);
  EXPECT_FALSE(FileExists(Path("missing")));
  EXPECT_TRUE(ReadWholeFile(Path("missing")).empty());
  EXPECT_TRUE(ReadWholeFile("").empty());

  ASSERT_TRUE(WriteWholeFile(Path("empty"), Bytes()));
  EXPECT_TRUE(FileExists(Path("empty")));
  EXPECT_EQ(FileSize(Path("empty")), 0);

  ASSERT_TRUE(WriteWholeFile(Path("two"), ToBytes(Text("ab")), ToBytes(Text("cd"))));
  EXPECT_EQ(FileSize(Path("two")), 4);
  EXPECT_EQ(ReadWholeFile(Path("two")), ToBytes(Text("abcd")));
  ASSERT_TRUE(WriteWholeFile(Path("two"), ToBytes(Text("x"))));  // truncates
  EXPECT_EQ(ReadWholeFile(Path("two")), ToBytes(Text("x")));
}

TEST_F(FilesTest, GbkNamesWithBlanks) {
  Text name = Path("中文 名字\\子 目录\\数据 文件.dat");
  CreateFolderTree(Path("中文 名字\\子 目录"));
  ASSERT_TRUE(WriteWholeFile(name, ToBytes(Text("payload"))));
  EXPECT_TRUE(FileExists(name));
  EXPECT_EQ(ReadWholeFile(name), ToBytes(Text("payload")));
  CreateFolderTree(Path("中文 名字\\子 目录"));  // existing: silent
  EXPECT_TRUE(FolderExists(Path("中文 名字")));
}

TEST_F(FilesTest, CopyOverwritesMoveRefusesAnExistingTarget) {
  ASSERT_TRUE(WriteWholeFile(Path("a"), ToBytes(Text("AAA"))));
  ASSERT_TRUE(WriteWholeFile(Path("b"), ToBytes(Text("B"))));
  EXPECT_TRUE(CopyFile(Path("a"), Path("b")));
  EXPECT_EQ(ReadWholeFile(Path("b")), ToBytes(Text("AAA")));
  EXPECT_FALSE(CopyFile(Path("missing"), Path("c")));

  EXPECT_FALSE(MoveFile(Path("a"), Path("b")));
  EXPECT_TRUE(FileExists(Path("a")));
  EXPECT_TRUE(RemoveFile(Path("b")));
  EXPECT_FALSE(RemoveFile(Path("b")));
  EXPECT_TRUE(MoveFile(Path("a"), Path("b")));
  EXPECT_FALSE(FileExists(Path("a")));
  EXPECT_EQ(ReadWholeFile(Path("b")), ToBytes(Text("AAA")));
}

TEST_F(FilesTest, ReplaceFilePutsTheNewFileInPlaceInOneStep) {
  ASSERT_TRUE(WriteWholeFile(Path("new"), ToBytes(Text("NEW"))));
  ASSERT_TRUE(WriteWholeFile(Path("old"), ToBytes(Text("OLD"))));
  EXPECT_TRUE(ReplaceFile(Path("new"), Path("old")));
  EXPECT_FALSE(FileExists(Path("new")));
  EXPECT_EQ(ReadWholeFile(Path("old")), ToBytes(Text("NEW")));
  // A missing target is made; a missing source or a folder as target fails
  // and changes nothing.
  ASSERT_TRUE(WriteWholeFile(Path("new"), ToBytes(Text("2"))));
  EXPECT_TRUE(ReplaceFile(Path("new"), Path("fresh")));
  EXPECT_EQ(ReadWholeFile(Path("fresh")), ToBytes(Text("2")));
  EXPECT_FALSE(ReplaceFile(Path("missing"), Path("old")));
  EXPECT_EQ(ReadWholeFile(Path("old")), ToBytes(Text("NEW")));
  CreateFolderTree(Path("folder"));
  ASSERT_TRUE(WriteWholeFile(Path("new"), ToBytes(Text("3"))));
  EXPECT_FALSE(ReplaceFile(Path("new"), Path("folder")));
  EXPECT_TRUE(FolderExists(Path("folder")));
  EXPECT_FALSE(ReplaceFile("", Path("old")));
  // A target held open without delete sharing stays as it is.
  {
    OpenedFile held(OpenFile(Path("old"), kModeRead, kShareExclusive));
    ASSERT_TRUE(held);
    EXPECT_FALSE(ReplaceFile(Path("new"), Path("old")));
  }
  EXPECT_EQ(ReadWholeFile(Path("old")), ToBytes(Text("NEW")));
  EXPECT_TRUE(ReplaceFile(Path("new"), Path("old")));
  EXPECT_EQ(ReadWholeFile(Path("old")), ToBytes(Text("3")));
}

TEST_F(FilesTest, UserValuesAreKeptUnderTheirKey) {
#if !defined(_WIN32)
  // The POSIX store lives under $XDG_STATE_HOME: here the test's folder.
  const std::string native_dir = "/tmp/rt-user-values-" + std::to_string(::getpid());
  ASSERT_EQ(::setenv("XDG_STATE_HOME", native_dir.c_str(), 1), 0);
#endif
  const Text key = "Software\\GameClientUpdater\\RuntimeTest\\键";
  EXPECT_FALSE(ReadUserValue(key, "never written"));
  ASSERT_TRUE(WriteUserValue(key, "Sequence", "12"));
  EXPECT_EQ(ReadUserValue(key, "Sequence"), std::optional<Text>("12"));
  ASSERT_TRUE(WriteUserValue(key, "Sequence", "9999999999999999999"));
  EXPECT_EQ(ReadUserValue(key, "Sequence"), std::optional<Text>("9999999999999999999"));
  ASSERT_TRUE(WriteUserValue(key, "名字", "值"));
  EXPECT_EQ(ReadUserValue(key, "名字"), std::optional<Text>("值"));
  EXPECT_FALSE(ReadUserValue(key + "\\other", "Sequence"));
#if !defined(_WIN32)
  EXPECT_FALSE(WriteUserValue("..\\escape", "x", "1"));  // never outside the store
  EXPECT_FALSE(WriteUserValue(key, "a/b", "1"));
  std::system(("rm -rf '" + native_dir + "'").c_str());
  ::unsetenv("XDG_STATE_HOME");
#endif
}

TEST_F(FilesTest, ReadOnlyFileCannotBeRemovedUntilAttributesAreCleared) {
  ASSERT_TRUE(WriteWholeFile(Path("ro"), ToBytes(Text("x"))));
  ASSERT_TRUE(SetFileAttributes(Path("ro"), kAttrReadOnly | kAttrHidden | 0x100));
  EXPECT_TRUE(GetFileAttributes(Path("ro")) & kAttrReadOnly);
  EXPECT_FALSE(RemoveFile(Path("ro")));
  ASSERT_TRUE(SetFileAttributes(Path("ro"), 0));
  EXPECT_FALSE(GetFileAttributes(Path("ro")) & kAttrReadOnly);
  EXPECT_TRUE(RemoveFile(Path("ro")));
  EXPECT_FALSE(SetFileAttributes(Path("ro"), 0));

  // MakeWritable clears read-only only.
  EXPECT_FALSE(MakeWritable(Path("ro")));  // missing
  ASSERT_TRUE(WriteWholeFile(Path("ro"), ToBytes(Text("x"))));
  EXPECT_TRUE(MakeWritable(Path("ro")));   // already writable
  ASSERT_TRUE(SetFileAttributes(Path("ro"), kAttrReadOnly | kAttrArchive));
  const uint32_t kept = GetFileAttributes(Path("ro")) & ~kAttrReadOnly;
  EXPECT_TRUE(MakeWritable(Path("ro")));
  EXPECT_EQ(GetFileAttributes(Path("ro")), kept);
  EXPECT_TRUE(RemoveFile(Path("ro")));
}

TEST_F(FilesTest, OpenFileModesCreateTruncateOrRequireTheFile) {
  EXPECT_EQ(OpenFile(Path("f"), 0), 0);
  EXPECT_EQ(OpenFile(Path("f"), 7), 0);
  EXPECT_EQ(OpenFile(Path("f"), 5, 0), 0);
  EXPECT_EQ(OpenFile(Path("f"), 5, 5), 0);
  for (int mode : {kModeRead, kModeWrite, kModeReadWrite})
    EXPECT_EQ(OpenFile(Path("f"), mode), 0) << "mode " << mode << " needs an existing file";

  int32_t f = OpenFile(Path("f"), kModeOpenOrCreate);  // creates
  ASSERT_NE(f, 0);
  EXPECT_TRUE(WriteToFile(f, ToBytes(Text("hello"))));
  CloseFile(f);

  f = OpenFile(Path("f"), kModeOpenOrCreate);  // keeps the content
  ASSERT_NE(f, 0);
  EXPECT_EQ(FilePosition(f), 0);
  ASSERT_TRUE(SeekToEnd(f));
  EXPECT_TRUE(WriteToFile(f, ToBytes(Text("!"))));
  CloseFile(f);
  EXPECT_EQ(ReadWholeFile(Path("f")), ToBytes(Text("hello!")));

  f = OpenFile(Path("f"), kModeOpenOrCreateRW);
  ASSERT_NE(f, 0);
  std::uint8_t buffer[8] = {};
  EXPECT_EQ(ReadFromFile(f, buffer, sizeof buffer), 6);
  EXPECT_EQ(ReadFromFile(f, buffer, sizeof buffer), 0);
  CloseFile(f);

  f = OpenFile(Path("f"), kModeCreateWrite);  // truncates
  ASSERT_NE(f, 0);
  CloseFile(f);
  EXPECT_EQ(FileSize(Path("f")), 0);
  CloseFile(f);  // closing twice is harmless
}

TEST_F(FilesTest, SharingFollowsTheWindowsRules) {
  ASSERT_TRUE(WriteWholeFile(Path("s"), ToBytes(Text("data"))));
  struct Case {
    int32_t first_mode, first_share, second_mode, second_share;
    bool second_opens;
  } cases[] = {
      {kModeRead, kShareDenyNone, kModeReadWrite, kShareDenyNone, true},
      {kModeRead, kShareDenyWrite, kModeRead, kShareDenyNone, true},
      {kModeRead, kShareDenyWrite, kModeWrite, kShareDenyNone, false},
      {kModeOpenOrCreate, kShareDenyWrite, kModeRead, kShareDenyNone, true},
      {kModeOpenOrCreate, kShareDenyWrite, kModeRead, kShareDenyWrite, false},
      {kModeOpenOrCreate, kShareDenyNone, kModeRead, kShareDenyWrite, false},
      {kModeRead, kShareDenyRead, kModeRead, kShareDenyNone, false},
      {kModeWrite, kShareDenyRead, kModeWrite, kShareDenyNone, true},
      {kModeRead, kShareExclusive, kModeRead, kShareDenyNone, false},
  };
  for (const auto& c : cases) {
    int32_t first = OpenFile(Path("s"), c.first_mode, c.first_share);
    ASSERT_NE(first, 0);
    int32_t second = OpenFile(Path("s"), c.second_mode, c.second_share);
    EXPECT_EQ(second != 0, c.second_opens) << c.first_mode << "/" << c.first_share << " then " << c.second_mode
                                           << "/" << c.second_share;
    if (second) CloseFile(second);
    CloseFile(first);
  }
  // An open file cannot be overwritten whole or removed.
  int32_t open = OpenFile(Path("s"), kModeOpenOrCreate, kShareDenyWrite);
  ASSERT_NE(open, 0);
  EXPECT_FALSE(WriteWholeFile(Path("s"), ToBytes(Text("x"))));
  EXPECT_FALSE(RemoveFile(Path("s")));
  CloseFile(open);
  EXPECT_TRUE(RemoveFile(Path("s")));
}

TEST_F(FilesTest, FailedWriteLeavesThePositionWhereItWas) {
  ASSERT_TRUE(WriteWholeFile(Path("w"), ToBytes(Text("0123456789"))));
  int32_t f = OpenFile(Path("w"), kModeRead);
  ASSERT_NE(f, 0);
  ASSERT_TRUE(SeekFile(f, 4));
  EXPECT_FALSE(WriteToFile(f, ToBytes(Text("xyz"))));  // opened for reading only
  EXPECT_EQ(FilePosition(f), 4);
  CloseFile(f);
  EXPECT_FALSE(WriteToFile(f, ToBytes(Text("xyz"))));  // closed number
  EXPECT_FALSE(SeekToEnd(9999));
  EXPECT_EQ(ReadWholeFile(Path("w")), ToBytes(Text("0123456789")));
}

// The owner closes its file exactly once, wherever it was moved to: while a
// deny-write open is owned, a second writer is refused.
TEST_F(FilesTest, OpenedFileClosesOnceWhereverItMoved) {
  const auto held = [&] {
    const int32_t writer = OpenFile(Path("o"), kModeWrite, kShareDenyNone);
    if (writer != 0) CloseFile(writer);
    return writer == 0;
  };
  ASSERT_TRUE(WriteWholeFile(Path("o"), ToBytes(Text("x"))));
  {
    OpenedFile first(OpenFile(Path("o"), kModeOpenOrCreate, kShareDenyWrite));
    ASSERT_TRUE(first);
    OpenedFile second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_TRUE(held());  // the moved-from owner closed nothing
    OpenedFile third;
    third = std::move(second);
    EXPECT_TRUE(held());
    third = OpenedFile();  // assigning closes the file it held
    EXPECT_FALSE(held());
  }
  OpenedFile kept(OpenFile(Path("o"), kModeOpenOrCreate, kShareDenyWrite));
  const int32_t number = kept.release();
  ASSERT_NE(number, 0);
  { OpenedFile gone = std::move(kept); }
  EXPECT_TRUE(held());  // released: its owner's end closed nothing
  CloseFile(number);
  OpenedFile reset(OpenFile(Path("o"), kModeOpenOrCreate, kShareDenyWrite));
  reset.reset();
  EXPECT_FALSE(reset);
  EXPECT_FALSE(held());
}

TEST_F(FilesTest, ReadFullStopsOnlyAtTheEnd) {
  ASSERT_TRUE(WriteWholeFile(Path("r"), ToBytes(Text("0123456789"))));
  int32_t f = OpenFile(Path("r"), kModeRead);
  ASSERT_NE(f, 0);
  std::uint8_t out[16] = {};
  EXPECT_EQ(ReadFull(f, out, 4), 4);
  EXPECT_EQ(Text(out, out + 4), "0123");
  EXPECT_EQ(ReadFull(f, out, sizeof out), 6);  // short: the file ends
  EXPECT_EQ(Text(out, out + 6), "456789");
  EXPECT_EQ(ReadFull(f, out, sizeof out), 0);
  EXPECT_EQ(ReadFull(f, out, 0), 0);
  ASSERT_TRUE(SeekFile(f, 8));
  EXPECT_FALSE(ReadExactly(f, out, 3));  // two bytes left
  CloseFile(f);
  EXPECT_EQ(ReadFull(f, out, 4), -1);  // closed number
  EXPECT_FALSE(ReadExactly(f, out, 1));
}

TEST(Files, ReservedDeviceNamesInAnyCaseAndWithExtensions) {
  for (const char* name : {"CON", "con", "Nul.txt", "aux.tar.gz", "com1", "LPT9.log", "con .txt", " prn",
                           "CONIN$", "conout$.x"})
    EXPECT_TRUE(IsReservedDeviceName(name)) << name;
  for (const char* name : {"", "console", "com0", "com10", "lpt", "connect.dat", "a.con", "数据"})
    EXPECT_FALSE(IsReservedDeviceName(name)) << name;
}

// The one-updater-per-folder lock, the write probes and the local time.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "runtime/convert.h"
#include "runtime/file_access.h"
#include "runtime/files.h"
#include "runtime/instance.h"
#include "tests/support/temp_folder.h"

using namespace rt;

TEST(InstanceLock, PathNamesFoldCaseAndSeparatorsButKeepGbkPairs) {
  EXPECT_EQ(InstanceLockNameOfPath("C:\\Games\\Zethra"), InstanceLockNameOfPath("c:\\games\\zethra\\"));
  EXPECT_EQ(InstanceLockNameOfPath("C:\\Games\\Zethra"), InstanceLockNameOfPath("C:/Games/Zethra"));
  EXPECT_NE(InstanceLockNameOfPath("C:\\Games\\Zethra"), InstanceLockNameOfPath("C:\\Games\\Zethra2"));
  // GBK pairs stay as they are: a trail byte that reads as "B" is not "b",
  // and one that reads as "\" is no trailing separator.
  EXPECT_NE(InstanceLockNameOfPath("C:\\\x81\x42"), InstanceLockNameOfPath("C:\\\x81\x62"));
  EXPECT_NE(InstanceLockNameOfPath("C:\\\x95\x5C"), InstanceLockNameOfPath("C:\\\x95"));
  EXPECT_EQ(InstanceLockNameOfPath("x").substr(0, 15), "updater-folder-");
  // A folder that cannot be looked at is named after its path.
  EXPECT_EQ(InstanceLockName("no such folder\\below"), InstanceLockNameOfPath("no such folder\\below"));
}

// Two spellings of one folder (and, where the system can make one, a link to
// it) share one lock; another folder has its own.
TEST(InstanceLock, NamedAfterTheFolderNotItsSpelling) {
  const testsupport::TempFolder root("lock spellings");
  const Text client = root.path() + "\\client dir";
  CreateFolderTree(client + "\\sub");
  CreateFolderTree(root.path() + "\\other");
  std::vector<Text> spellings = {client + "\\", client + "\\sub\\..", client + "\\.\\", root.path() + "/client dir"};
#ifdef _WIN32
  spellings.push_back(root.path() + "\\CLIENT DIR");  // Windows names ignore letter case
#endif
  std::error_code error;
  const std::filesystem::path link(root.Path("link"));
  std::filesystem::create_directory_symlink("client dir", link, error);
  if (!error && std::filesystem::is_directory(link)) {
    spellings.push_back(root.path() + "\\link");
  } else {
    std::printf("no link made here (%s): spellings only\n", error.message().c_str());
  }

  const Text name = InstanceLockName(client);
  EXPECT_NE(name, InstanceLockNameOfPath(client));  // the identity, not the path
  for (const Text& spelling : spellings) EXPECT_EQ(InstanceLockName(spelling), name) << spelling;
  EXPECT_NE(InstanceLockName(root.path() + "\\other"), name);
  EXPECT_NE(InstanceLockName(client + "\\sub"), name);

  InstanceLock held(client, 0);
  ASSERT_TRUE(held.Owned());
  for (const Text& spelling : spellings) {
    bool owned = true;
    std::thread([&] { owned = InstanceLock(spelling, 50).Owned(); }).join();
    EXPECT_FALSE(owned) << spelling;
  }
}

TEST(InstanceLock, OneHolderPerFolderAndFoldersApart) {
  testsupport::TempFolder a("lock a"), b("lock b");
  {
    InstanceLock first(a.path(), 0);
    ASSERT_TRUE(first.Owned());
    // From another thread: a Windows mutex lets its owning thread in again.
    bool second_owned = true;
    std::thread([&] { second_owned = InstanceLock(a.path(), 50).Owned(); }).join();
    EXPECT_FALSE(second_owned);
    InstanceLock other_folder(b.path(), 0);
    EXPECT_TRUE(other_folder.Owned());
  }
  // Gone with its holder: the next one gets it at once.
  InstanceLock again(a.path(), 0);
  EXPECT_TRUE(again.Owned());
}

TEST(LocalTime, DateAndTimeShape) {
  const Text t = LocalTimeText();
  ASSERT_EQ(t.size(), 19u) << t;
  for (size_t i : {4u, 7u}) EXPECT_EQ(t[i], '-') << t;
  EXPECT_EQ(t[10], ' ') << t;
  for (size_t i : {13u, 16u}) EXPECT_EQ(t[i], ':') << t;
  EXPECT_GE(ToInteger(t.substr(0, 4)), 2020) << t;
}

class WriteProbeTest : public ::testing::Test {
 protected:
  Text Path(const Text& name) const { return folder_.path() + "\\" + name; }
  testsupport::TempFolder folder_{"probe"};
};

TEST_F(WriteProbeTest, FolderProbeWritesAndRemovesItsFile) {
  EXPECT_EQ(ProbeFolderWritable(folder_.path()).access, WriteAccess::kOk);
  EXPECT_FALSE(FileExists(Path(kProbeFileName)));
  const AccessCheck missing = ProbeFolderWritable(Path("no such folder"));
  EXPECT_EQ(missing.access, WriteAccess::kDenied);
  EXPECT_NE(missing.error, 0u);
}

TEST_F(WriteProbeTest, FreeDiskSpaceOfAFolderOrNone) {
  const int64_t free = FreeDiskSpace(folder_.path());
  EXPECT_GT(free, 0);
  EXPECT_GT(FreeDiskSpace(folder_.path() + "\\"), 0);
  EXPECT_GT(FreeDiskSpace(""), 0);  // the current folder
  EXPECT_EQ(FreeDiskSpace(Path("no such folder")), -1);
}

TEST_F(WriteProbeTest, ReplaceableFiles) {
  EXPECT_EQ(ProbeReplaceable(Path("missing.dat")).access, WriteAccess::kOk);
  EXPECT_EQ(ProbeReplaceable(Path("no folder\\missing.dat")).access, WriteAccess::kOk);

  ASSERT_TRUE(WriteWholeFile(Path("plain.dat"), ToBytes(Text("x"))));
  EXPECT_EQ(ProbeReplaceable(Path("plain.dat")).access, WriteAccess::kOk);

  ASSERT_TRUE(WriteWholeFile(Path("read only.dat"), ToBytes(Text("x"))));
  ASSERT_TRUE(SetFileAttributes(Path("read only.dat"), kAttrReadOnly));
  EXPECT_EQ(ProbeReplaceable(Path("read only.dat")).access, WriteAccess::kOk);
  EXPECT_EQ(GetFileAttributes(Path("read only.dat")) & kAttrReadOnly, 0u);
  EXPECT_EQ(ToText(ReadWholeFile(Path("read only.dat"))), "x");

  ASSERT_TRUE(WriteWholeFile(Path("held.dat"), ToBytes(Text("x"))));
  {
    OpenedFile holder(OpenFile(Path("held.dat"), kModeRead, kShareExclusive));
    ASSERT_TRUE(holder);
    const AccessCheck held = ProbeReplaceable(Path("held.dat"));
    EXPECT_EQ(held.access, WriteAccess::kInUse);
    EXPECT_NE(held.error, 0u);
  }
  EXPECT_EQ(ProbeReplaceable(Path("held.dat")).access, WriteAccess::kOk);

  CreateFolderTree(Path("a folder"));
  EXPECT_EQ(ProbeReplaceable(Path("a folder")).access, WriteAccess::kDenied);
}

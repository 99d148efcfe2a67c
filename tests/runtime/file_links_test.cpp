// Links on the way to a file: what a path's components are, which of them are
// links, and where each leads. Links are made where the system lets a test make them
// (not under Wine, whose CreateSymbolicLinkW makes nothing: there the cases
// without links run, and the end-to-end tests use links made on the host).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "runtime/convert.h"
#include "runtime/file_access.h"
#include "runtime/files.h"
#include "runtime/system_error.h"
#include "tests/support/temp_folder.h"

using namespace rt;

namespace {

class FileLinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateFolderTree(Path("client\\real"));
    CreateFolderTree(Path("outside"));
    ASSERT_TRUE(WriteWholeFile(Path("client\\real\\file.dat"), ToBytes(Text("x"))));
    // ASCII names: std::filesystem reads narrow names in the system's code page.
    std::error_code e1, e2, e3;
    std::filesystem::create_directory_symlink("../outside", folder_.Path("client/data"), e1);
    std::filesystem::create_symlink("file.dat", folder_.Path("client/real/filelink"), e2);
    std::filesystem::create_symlink("gone", folder_.Path("client/dangling"), e3);
    std::error_code e4;
    std::filesystem::create_directory_symlink("../client/real", folder_.Path("outside/inner"), e4);
    links_made_ = !e1 && !e2 && !e3 && !e4 && EntryKindOf(Path("client\\data")) == EntryKind::kLink;
    if (!links_made_) std::printf("no links made here: the cases without links only\n");
  }
  Text Path(const Text& name) const { return folder_.path() + "\\" + name; }

  testsupport::TempFolder folder_{"rt links"};
  bool links_made_ = false;
};

TEST_F(FileLinksTest, WhatIsAtAPath) {
  EXPECT_EQ(EntryKindOf(Path("client\\real")), EntryKind::kFolder);
  EXPECT_EQ(EntryKindOf(Path("client\\real\\file.dat")), EntryKind::kFile);
  EXPECT_EQ(EntryKindOf(Path("client\\missing")), EntryKind::kNothing);
  EXPECT_EQ(EntryKindOf(""), EntryKind::kNothing);
  if (!links_made_) return;
  EXPECT_EQ(EntryKindOf(Path("client\\data")), EntryKind::kLink);
  EXPECT_EQ(EntryKindOf(Path("client\\real\\filelink")), EntryKind::kLink);
  EXPECT_EQ(EntryKindOf(Path("client\\dangling")), EntryKind::kLink);
}

// Every link on the way, in order, "!" after one that leads nowhere.
Text LinksOf(const std::vector<PathLink>& links) {
  Text text;
  for (const PathLink& link : links) text += (text.empty() ? "" : ",") + link.link + (link.resolved() ? "" : "!");
  return text;
}

TEST_F(FileLinksTest, TheLinksBelowTheClientFolder) {
  struct Case {
    Text path;
    Text links;
    bool needs_links;
  } const cases[] = {
      {"", "", false},
      {"real\\file.dat", "", false},
      {"real\\new.dat", "", false},         // missing last component
      {"missing\\deeper\\x.dat", "", false},  // nothing below a missing folder is a link
      {"real\\\\file.dat", "", false},      // an empty component is skipped
      {"data\\map.dat", "data", true},
      {"data\\deeper\\x.dat", "data", true},
      {"data", "data", true},
      {"data/map.dat", "data", true},
      {"data\\inner\\file.dat", "data,data\\inner", true},  // a link inside the folder a link leads to
      {"real\\filelink", "real\\filelink", true},
      {"dangling\\x.dat", "dangling!", true},  // leads nowhere: nothing looked at below it
  };
  for (const Text& base : {Path("client"), Path("client") + "\\", Path("client") + "/"}) {
    for (const Case& c : cases) {
      if (c.needs_links && !links_made_) continue;
      EXPECT_EQ(LinksOf(FindLinksBelow(base, c.path)), c.links) << base << " + " << c.path;
    }
  }
  if (!links_made_) return;
  // The folder itself may be reached through a link: only what is below it counts.
  EXPECT_TRUE(FindLinksBelow(Path("client\\data"), "x.dat").empty());
  // Where each leads: the full path of its target.
  const std::vector<PathLink> links = FindLinksBelow(Path("client"), "data\\inner\\file.dat");
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0].target, ResolveLink(Path("outside")));
  EXPECT_EQ(links[1].target, ResolveLink(Path("client\\real")));
  EXPECT_EQ(ResolveLink(Path("client\\real\\filelink")), ResolveLink(Path("client\\real\\file.dat")));
  EXPECT_EQ(ResolveLink(Path("client\\dangling")), "");
}

TEST(SystemError, DiskFullAndInUseErrors) {
#ifdef _WIN32
  const uint32_t full[] = {112, 39};   // ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL
  const uint32_t in_use[] = {32, 33};  // ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION
  const uint32_t other[] = {0, 5, 2};  // success, access denied, file not found
#else
  const uint32_t full[] = {ENOSPC, EDQUOT};
  const uint32_t in_use[] = {EBUSY, ETXTBSY};
  const uint32_t other[] = {0, EACCES, ENOENT};
#endif
  for (uint32_t error : full) EXPECT_TRUE(IsDiskFullError(error) && !IsInUseError(error)) << error;
  for (uint32_t error : in_use) EXPECT_TRUE(IsInUseError(error) && !IsDiskFullError(error)) << error;
  for (uint32_t error : other) EXPECT_FALSE(IsDiskFullError(error) || IsInUseError(error)) << error;
}

}  // namespace

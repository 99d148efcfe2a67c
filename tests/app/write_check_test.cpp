// The write check before the first download: nothing is deleted or fetched
// when the folder or a file cannot be written, and the label says why.
#include <algorithm>
#include <filesystem>

#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "runtime/text.h"

using namespace app;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }

class WriteCheckTest : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    state_.PatchList = {{"one.dat", Sum("1 new")}, {"sub\\two.dat", Sum("2 new")}};
    server_["http://127.0.0.1:8088/patch/528/one.dat"] = "1 new";
    server_["http://127.0.0.1:8088/patch/528/sub/two.dat"] = "2 new";
    Write("one.dat", "1 old");
    rt::CreateFolderTree("sub");
    Write("sub\\two.dat", "2 old");
  }
  // Nothing was fetched, deleted or restarted, and the run stopped.
  void ExpectNothingTouched() {
    EXPECT_TRUE(requested_.empty());
    EXPECT_EQ(Read("one.dat"), "1 old");
    EXPECT_EQ(Read("sub\\two.dat"), "2 old");
    EXPECT_EQ(window_.props[ui::kProgressTimer].interval, 0);
    EXPECT_TRUE(EnterGameDisabled());
    EXPECT_TRUE(programs_.empty());
    EXPECT_TRUE(ended_.empty());
  }
  bool LogHas(const rt::Text& part) {
    for (const rt::Text& line : log_)
      if (line.find(part) != rt::Text::npos) return true;
    return false;
  }
};

TEST_F(WriteCheckTest, AFolderThatCannotBeWrittenStopsTheRunBeforeAnything) {
  rt::Text probed = "-";
  flow_.services.probe_folder = [&probed](const rt::Text& folder) {
    probed = folder;
    return rt::AccessCheck{rt::WriteAccess::kDenied, 5};
  };
  RunPatchDownloads(flow_);
  EXPECT_EQ(probed, "");  // the client folder: here the current one
  EXPECT_EQ(Task(), kTextFolderNotWritable);
  EXPECT_TRUE(LogHas("error 5"));
  ExpectNothingTouched();
}

TEST_F(WriteCheckTest, AFileHeldOpenByAnotherProgramIsNamed) {
  {
    // Opened without sharing, as the running game holds its files.
    rt::OpenedFile game(rt::OpenFile("sub\\two.dat", rt::kModeRead, rt::kShareExclusive));
    ASSERT_TRUE(game);
    RunPatchDownloads(flow_);
  }
  EXPECT_EQ(Task(), rt::FormatText(kTextFileInUse, "sub\\two.dat"));
  EXPECT_TRUE(LogHas("sub\\two.dat is in use, error "));
  ExpectNothingTouched();
}

TEST_F(WriteCheckTest, AReadOnlyFileIsMadeWritableAndReplaced) {
  ASSERT_TRUE(rt::SetFileAttributes("one.dat", rt::kAttrReadOnly));
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_EQ(Read("one.dat"), "1 new");
  EXPECT_EQ(rt::GetFileAttributes("one.dat") & rt::kAttrReadOnly, 0u);
}

TEST_F(WriteCheckTest, AFileThatCannotBeMadeWritableIsNamed) {
  flow_.services.probe_replaceable = [](const rt::Text& path) {
    return path == "one.dat" ? rt::AccessCheck{rt::WriteAccess::kDenied, 5} : rt::AccessCheck{};
  };
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), rt::FormatText(kTextFileNotWritable, "one.dat"));
  ExpectNothingTouched();
}

TEST_F(WriteCheckTest, AFullDiskIsNamedAsSuch) {
  flow_.services.probe_folder = [](const rt::Text&) { return rt::AccessCheck{rt::WriteAccess::kDiskFull, 112}; };
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), kTextDiskFull);
  EXPECT_TRUE(LogHas("write check: the client folder's disk is full, error 112"));
  ExpectNothingTouched();
}

// Links are followed; one that leads nowhere refuses the run before anything
// is touched, the read-only attribute of another file included. The partial
// file's name is looked at too, and each link is logged once.
TEST_F(WriteCheckTest, LinksAreFollowedAndOneThatLeadsNowhereRefusesTheRun) {
  state_.PatchList.push_back({"sub\\three.dat", Sum("3 new")});
  server_["http://127.0.0.1:8088/patch/528/sub/three.dat"] = "3 new";
  struct Case {
    rt::Text linked;  // the path the fake finds a link on
    rt::Text link;    // the link it reports
    rt::Text target;  // where it leads: empty, nowhere
    rt::Text logged;
  } const cases[] = {
      {"sub\\two.dat", "sub", "", "write check: sub\\two.dat goes through the link sub, which leads nowhere: refused"},
      {"one.dat.tmp", "one.dat.tmp", "", "write check: one.dat goes through the link one.dat.tmp, which leads nowhere: refused"},
      {"sub\\two.dat", "sub", "D:\\moved\\sub", "write check: sub is a link to D:\\moved\\sub; files below it are written there"},
  };
  for (const Case& c : cases) {
    log_.clear();
    ASSERT_TRUE(rt::SetFileAttributes("one.dat", rt::kAttrReadOnly));
    std::vector<rt::Text> asked;
    flow_.services.find_links = [&](const rt::Text& base, const rt::Text& path) {
      asked.push_back(base + "|" + path);
      std::vector<rt::PathLink> links;
      if (path == c.linked || (c.link == "sub" && rt::StartsWith(path, "sub\\"))) links.push_back({c.link, c.target});
      return links;
    };
    RunPatchDownloads(flow_);
    EXPECT_EQ(asked.front(), "|one.dat") << c.linked;  // below the client folder, as listed
    EXPECT_EQ(std::count(log_.begin(), log_.end(), c.logged), 1) << c.linked;
    if (!c.target.empty()) {
      EXPECT_EQ(Task(), kTextUpdateDone);
      continue;
    }
    EXPECT_EQ(Task(), rt::FormatText(kTextBrokenLink, c.link.c_str())) << c.linked;
    EXPECT_NE(rt::GetFileAttributes("one.dat") & rt::kAttrReadOnly, 0u) << "probed through the link";
    ExpectNothingTouched();
    ASSERT_TRUE(rt::SetFileAttributes("one.dat", 0));
  }
}

// With real links (where the system lets a test make them): a folder link's
// files are written where it leads, and the room check leaves them out (the
// link may lead to another disk, the one the player moved the data to).
TEST_F(WriteCheckTest, AFolderLinkIsWrittenThroughAndLeftOutOfTheRoomCheck) {
  rt::CreateFolderTree("outside");
  Write("outside\\two.dat", "outside");
  std::error_code error;
  std::filesystem::create_directory_symlink("outside", "linked", error);
  if (error || rt::EntryKindOf("linked") != rt::EntryKind::kLink) {
    GTEST_SKIP() << "no link can be made here";
  }
  std::filesystem::create_directory_symlink("gone", "dangling", error);
  const auto signed_entry = [](const rt::Text& path, const rt::Text& content, int64_t size) {
    return PatchEntry{path, Sum(content), list::FileDigest{size, {}}};
  };
  // Sizes that fit the client's disk only without the linked file's.
  state_.PatchList = {OutdatedFile{signed_entry("one.dat", "1 new", 5)}, OutdatedFile{signed_entry("linked\\two.dat", "2 new", int64_t{1} << 40)}};
  flow_.services.free_disk_space = [](const rt::Text&) { return int64_t{1} << 30; };
  RunPatchDownloads(flow_);  // the files are not on the server: the run fails after the checks
  EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                          [](const rt::Text& line) { return line.rfind("write check: linked is a link to ", 0) == 0; }),
            1);
  EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                          [](const rt::Text& line) { return line.rfind("room check:", 0) == 0; }),
            0);

  // Fetched through the link: the file lands in the folder it leads to.
  state_.PatchList = {{"one.dat", Sum("1 new")}, {"linked\\two.dat", Sum("2 new")}};
  server_["http://127.0.0.1:8088/patch/528/linked/two.dat"] = "2 new";
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_EQ(Read("outside\\two.dat"), "2 new");
  EXPECT_EQ(rt::EntryKindOf("linked"), rt::EntryKind::kLink);

  // A link that leads nowhere refuses the run.
  if (rt::EntryKindOf("dangling") != rt::EntryKind::kLink) return;
  state_.PatchList = {{"dangling\\x.dat", Sum("x")}};
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), rt::FormatText(kTextBrokenLink, "dangling"));
}

TEST_F(WriteCheckTest, TheProbeLeavesNothingBehind) {
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_FALSE(rt::FileExists(rt::kProbeFileName));
}

}  // namespace

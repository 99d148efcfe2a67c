#include <tuple>

#include "list/file_list.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"

using namespace app;

namespace {
rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }
}  // namespace

TEST_F(FlowTest, UnusableListsReportFailureAndStartNothing) {
  for (const rt::Text& body : {rt::Text(""), rt::Text("<html><body>502</body></html>"), rt::Text("..\\x#1\r\n")}) {
    SetList(body);
        CheckRemoteVersion(flow_);
    EXPECT_EQ(Task(), kTextListFailed) << body;
    EXPECT_TRUE(EnterGameDisabled());
    EXPECT_EQ(runs_started_, 0);
    EXPECT_TRUE(state_.PatchList.empty());
  }
  EXPECT_EQ(fetched_.back(), "http://127.0.0.1:8088/patch/528/filelist.txt");
  EXPECT_EQ(window_.changes[0], std::string("SetCaption ") + ui::kGameTitleLabel + "=");
  EXPECT_EQ(window_.changes[1], std::string("SetCaption ") + ui::kCurrentTaskLabel + "=" + kTextChecking);
}

TEST_F(FlowTest, UpToDateEnablesTheEnterGameButton) {
  uint32_t clock = 0;
  flow_.services.tick_count = [&clock] { return clock += 20; };
  Write("a.dat", "abc");
  // A missing file listed with checksum 0 counts as up to date too.
  SetList("a.dat#99267\r\nmissing.dat#0\r\nnot an entry\r\n");
  CheckRemoteVersion(flow_);
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_FALSE(EnterGameDisabled());
  EXPECT_EQ(runs_started_, 0);
  EXPECT_EQ(list::ParseFileList(list_.body, list::HashLines::kSkipped).entries.size(), 2u);  // the entries
  EXPECT_GE(events_, 1);  // messages let through every 25 ms: the clock moves 20 ms a look
}

TEST_F(FlowTest, ChangedFilesFormTheListInLineOrder) {
  rt::CreateFolderTree("数据 目录");
  Write("数据 目录\\地图.dat", "old");
  Write("same.dat", "hello world");
  SetList("数据 目录\\地图.dat#" + Sum("new") + "\r\nsame.dat#-648389339\r\nno hash here\r\n" +
          "gone.dat#12\r\nplus.dat#+0\r\n");
  CheckRemoteVersion(flow_);
  EXPECT_EQ(Task(), "有最新版本，共有3个文件需要更新。");
  ASSERT_EQ(state_.PatchList.size(), 3u);
  EXPECT_EQ(state_.PatchList[0].entry.path, "数据 目录\\地图.dat");
  EXPECT_EQ(state_.PatchList[1].entry.path, "gone.dat");
  EXPECT_EQ(state_.PatchList[2].entry.path, "plus.dat");  // "+..." never matches, a missing file's 0 neither
  EXPECT_EQ(state_.PatchList[1].entry.checksum, "12");
  // Each with the file it replaces, as the check summed it.
  EXPECT_TRUE(state_.PatchList[0].local_present);
  EXPECT_EQ(state_.PatchList[0].local_size, 3);
  EXPECT_EQ(state_.PatchList[0].local_checksum, static_cast<uint32_t>(checksum::FileChecksum(rt::ToBytes("old"))));
  EXPECT_FALSE(state_.PatchList[1].local_present);
  EXPECT_EQ(state_.PatchList[1].local_checksum, 0u);
  EXPECT_FALSE(state_.PatchList[2].local_present);
  EXPECT_TRUE(EnterGameDisabled());
  EXPECT_EQ(runs_started_, 1);
}

TEST_F(FlowTest, FailedFetchesAreReportedNeverReadAsAnEmptyList) {
  // Whatever body came with it: an error status, a cut-off list, a time-out.
  struct Case {
    rt::FetchOutcome outcome;
    int status;
  } const cases[] = {
      {rt::FetchOutcome::kHttpError, 503}, {rt::FetchOutcome::kHttpError, 404},
      {rt::FetchOutcome::kCutShort, 200},  {rt::FetchOutcome::kTimedOut, 200},
      {rt::FetchOutcome::kTooLarge, 200},  {rt::FetchOutcome::kUnreachable, 0},
  };
  for (const Case& c : cases) {
    SetList("Service Unavailable\r\n", c.outcome, c.status);
    CheckRemoteVersion(flow_);
    EXPECT_EQ(Task(), kTextListFailed) << rt::ToString(c.outcome) << " " << c.status;
    EXPECT_TRUE(EnterGameDisabled());
    EXPECT_EQ(runs_started_, 0);
  }
}

TEST_F(FlowTest, ListOfNonEntriesReadsAsUpToDate) {
  SetList("Service Unavailable\r\n");
  CheckRemoteVersion(flow_);
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_FALSE(EnterGameDisabled());
}

// Messages are let through by the clock, every 25 ms, not after every file:
// under Wine a look at the queue costs as much as a small file's checksum.
TEST_F(FlowTest, TheChecksumsLetMessagesThroughByTheClock) {
  rt::Text list;
  for (int i = 0; i < 20; ++i) {
    Write("f" + std::to_string(i), "x");
    list += "f" + std::to_string(i) + "#" + Sum("x") + "\r\n";
  }
  SetList(list);
  // Every file read: a look after its facts, and after each file the window
  // thread reads itself (a helper thread reads the others, looking at no
  // messages): 20 to 40 chances, each taken when the clock allows; with a
  // clock of 1 ms a chance, that is 0 to 2 looks.
  state_.UseChecksumCache = false;
  for (const auto& [step_ms, fewest, most] : {std::tuple{1u, 0, 2}, std::tuple{30u, 20, 41}}) {
    uint32_t clock = 0;
    flow_.services.tick_count = [&clock, step = step_ms] { return clock += step; };
    events_ = 0;
    CheckRemoteVersion(flow_);
    EXPECT_EQ(Task(), kTextUpToDate);
    EXPECT_GE(events_, fewest) << step_ms;
    EXPECT_LE(events_, most) << step_ms;
  }
}

// One file named twice: fetched once; named with two checksums, the list is
// refused and the log names both lines.
TEST_F(FlowTest, OneFileNamedTwiceIsFetchedOnceOrTheListRefused) {
  SetList("a.txt#" + Sum("new") + "\r\nb.txt#" + Sum("b") + "\r\nA.TXT#" + Sum("new") + "\r\n");
  CheckRemoteVersion(flow_);
  EXPECT_EQ(Task(), "有最新版本，共有2个文件需要更新。");
  ASSERT_EQ(state_.PatchList.size(), 2u);
  EXPECT_EQ(state_.PatchList[0].entry.path, "a.txt");
  EXPECT_EQ(state_.PatchList[1].entry.path, "b.txt");

  state_.PatchList.clear();
  SetList("a.txt#" + Sum("new") + "\r\nA.TXT#" + Sum("other") + "\r\n");
  CheckRemoteVersion(flow_);
  EXPECT_EQ(Task(), kTextListFailed);
  EXPECT_TRUE(state_.PatchList.empty());
  EXPECT_EQ(runs_started_, 1);
  const rt::Text refused = "list refused: two entries name one file: \"a.txt#" + Sum("new") + "\" and \"A.TXT#" +
                           Sum("other") + "\"";
  EXPECT_NE(std::find(log_.begin(), log_.end(), refused), log_.end());
}

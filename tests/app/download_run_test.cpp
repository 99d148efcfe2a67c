#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "net/url_escape.h"
#include "runtime/process.h"

using namespace app;

namespace {
rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }
}  // namespace

TEST_F(FlowTest, SuccessfulRunStoresFilesRestartsTheLauncherAndEnds) {
  state_.PatchList = {{"数据\\地 图.pak", Sum("map v2")}, {"top.dat", Sum("top v2")}};
  server_["http://127.0.0.1:8088/patch/528/%E6%95%B0%E6%8D%AE/%E5%9C%B0%20%E5%9B%BE.pak"] = "map v2";
  server_["http://127.0.0.1:8088/patch/528/top.dat"] = "top v2";
  Write("top.dat", "top v1 that is longer");
  RunPatchDownloads(flow_);

  EXPECT_EQ(Read("数据\\地 图.pak"), "map v2");
  EXPECT_EQ(Read("top.dat"), "top v2");
  EXPECT_EQ(requested_.size(), 2u);
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_EQ(window_.props[ui::kPatchSizeLabel].caption, "N/A");
  EXPECT_EQ(window_.props[ui::kSpeedLabel].caption, "N/A");
  EXPECT_EQ(window_.props[ui::kProgressTimer].interval, 0);
  EXPECT_FALSE(EnterGameDisabled());
  EXPECT_EQ(state_.Job.fileCount, 2);
  EXPECT_EQ(state_.Job.fileIndex, 2);
  // The label showed each entry as listed, with its backslashes.
  EXPECT_NE(std::find(window_.changes.begin(), window_.changes.end(),
                      std::string("SetCaption ") + ui::kCurrentTaskLabel + "=数据\\地 图.pak"),
            window_.changes.end());
  EXPECT_EQ(window_.changes.front(), std::string("SetTimerInterval ") + ui::kProgressTimer + "=100");
  ASSERT_EQ(programs_.size(), 1u);
  // The launcher in the client folder (here the current one), quoted.
  EXPECT_EQ(programs_[0], "\"游戏 启动.exe\"");
  EXPECT_EQ(ended_, std::vector<int32_t>{0});
}

TEST_F(FlowTest, FailedDownloadStopsTheRunWithoutRestart) {
  state_.PatchList = {{"one.dat", Sum("1")}, {"two.dat", Sum("2")}, {"three.dat", Sum("3")}};
  server_["http://127.0.0.1:8088/patch/528/one.dat"] = "1";
  server_["http://127.0.0.1:8088/patch/528/three.dat"] = "3";
  Write("two.dat", "old two");
  RunPatchDownloads(flow_);
  EXPECT_EQ(Read("one.dat"), "1");
  EXPECT_EQ(Read("two.dat"), "old two");  // kept: nothing replaced it
  EXPECT_EQ(requested_.size(), 2u);       // the third is never requested
  EXPECT_EQ(Task(), kTextDownloadFailed);
  EXPECT_EQ(window_.props[ui::kProgressTimer].interval, 0);
  EXPECT_TRUE(EnterGameDisabled());
  EXPECT_TRUE(programs_.empty());
  EXPECT_TRUE(ended_.empty());
}

TEST_F(FlowTest, FileThatDoesNotMatchItsListChecksumFailsTheRun) {
  state_.PatchList = {{"a.dat", Sum("what the list says")}, {"b.dat", Sum("b")}};
  server_["http://127.0.0.1:8088/patch/528/a.dat"] = "what the server sends";
  server_["http://127.0.0.1:8088/patch/528/b.dat"] = "b";
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), kTextDownloadFailed);
  EXPECT_EQ(requested_.size(), 1u);
  EXPECT_TRUE(programs_.empty());
  EXPECT_TRUE(ended_.empty());
}

TEST_F(FlowTest, ReadOnlyTargetIsReplaced) {
  state_.PatchList = {{"disc.dat", Sum("v2")}};
  server_["http://127.0.0.1:8088/patch/528/disc.dat"] = "v2";
  Write("disc.dat", "v1 copied from a disc");
  ASSERT_TRUE(rt::SetFileAttributes("disc.dat", rt::kAttrReadOnly));
  RunPatchDownloads(flow_);
  EXPECT_EQ(Read("disc.dat"), "v2");
  EXPECT_EQ(Task(), kTextUpdateDone);
}

TEST_F(FlowTest, EmptyListGoesStraightToTheClosingSteps) {
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_EQ(programs_.size(), 1u);
  EXPECT_EQ(ended_, std::vector<int32_t>{0});
}

TEST_F(FlowTest, LaunchWithoutPayloadShowsTheErrorAndRemovesGameDat) {
  // The client folder is the scratch folder: no updater image there to
  // carry a payload.
  rt::Text game = "game.dat";
  ASSERT_TRUE(rt::WriteWholeFile(game, rt::ToBytes(rt::Text("old game"))));
  rt::SetFileAttributes(game, rt::kAttrReadOnly | rt::kAttrHidden);
  LaunchGame(flow_);
  EXPECT_FALSE(rt::FileExists(game));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], rt::Text(kCaptionError) + "|" + kTextNoPayload + "|16");
  EXPECT_TRUE(programs_.empty());
  EXPECT_EQ(window_.closes, 0);
}

// update.log: its lines, their order over a run, and its trimming.
#include "app/update_log.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "runtime/text.h"

using namespace app;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }

TEST(UpdateLog, TrimmingDropsTheOlderHalfInWholeLines) {
  const rt::Text line = "0123456789\r\n";  // 12 bytes
  rt::Text content;
  for (int i = 0; i < 10; ++i) content += line;
  struct Case {
    int64_t max;
    size_t kept_lines;
  } const cases[] = {{120, 10}, {200, 10}, {119, 5}, {60, 5}};
  for (const Case& c : cases) {
    const rt::Text trimmed = rt::ToText(TrimmedLog(rt::ToBytes(content), c.max));
    EXPECT_EQ(trimmed.size(), c.kept_lines * line.size()) << c.max;
    EXPECT_EQ(trimmed.substr(0, line.size()), line) << c.max;  // starts with a whole line
  }
  // A line that runs past the middle goes with the older half.
  const rt::Text uneven = rt::Text(100, 'a') + "\r\n" + "b\r\n";
  EXPECT_EQ(rt::ToText(TrimmedLog(rt::ToBytes(uneven), 10)), "b\r\n");
}

class UpdateLogFile : public FlowTest {};

TEST_F(UpdateLogFile, LinesAreAppendedWithTheirTimeAndTheLogStaysShort) {
  AppendLogLine(kLogName, "2026-01-02 03:04:05", "first");
  AppendLogLine(kLogName, "2026-01-02 03:04:06", "second 文件");
  EXPECT_EQ(Read(kLogName), "2026-01-02 03:04:05 first\r\n2026-01-02 03:04:06 second 文件\r\n");

  const rt::Text filler(1000, 'x');
  for (int i = 0; i < 300; ++i) AppendLogLine(kLogName, "t", filler);  // 300 KB and more
  AppendLogLine(kLogName, "t", "newest");
  const rt::Text log = Read(kLogName);
  EXPECT_LE(static_cast<int64_t>(log.size()), kLogMaxBytes);
  EXPECT_GE(static_cast<int64_t>(log.size()), kLogMaxBytes / 2 - 1010);
  EXPECT_EQ(log.find("first"), rt::Text::npos);
  EXPECT_EQ(log.substr(log.size() - 10), "t newest\r\n");
  EXPECT_EQ(log.substr(0, 2), "t ");
}

TEST_F(UpdateLogFile, ALogThatCannotBeOpenedChangesNothing) {
  Write(kLogName, "kept\r\n");
  rt::OpenedFile holder(rt::OpenFile(kLogName, rt::kModeRead, rt::kShareExclusive));
  ASSERT_TRUE(holder);
  AppendLogLine(kLogName, "t", "lost");
  globals_.PatchList = {{"a.dat", Sum("a")}};
  server_["http://127.0.0.1:8088/patch/528/a.dat"] = "a";
  flow_.services.log = [](const rt::Text& line) { AppendLogLine(kLogName, "t", line); };
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_EQ(Read("a.dat"), "a");
}

TEST_F(UpdateLogFile, ARunLogsItsEventsInOrder) {
  Write("a.dat", "old");
  SetList("a.dat#" + Sum("new a") + "\r\n");
  server_["http://127.0.0.1:8088/patch/528/a.dat"] = "new a";
  fetch_script_ = {{rt::FetchOutcome::kUnreachable, 0, {}}};
  CheckRemoteVersion(flow_);
  globals_.PatchList = {{"a.dat", Sum("new a")}};
  RunPatchDownloads(flow_);
  const std::vector<rt::Text> starts = {
      "list http://127.0.0.1:8088/patch/528/filelist.txt: Unreachable, HTTP 0, 0 bytes",
      "retry 1/3 of the list",
      "list http://127.0.0.1:8088/patch/528/filelist.txt: Ok, HTTP 200, " + rt::ToText(static_cast<int64_t>(list_.body.size())) + " bytes",
      "list checked: 1 files to update",
      "download run: 1 files, 1 at once",
      "file a.dat: result 0 (Ok), 5 bytes, 0.00 s, 4.88 KB/s, checksum ok, mirror http://127.0.0.1:8088/",
      "installed a.dat (5 bytes)",
      "download run done: 1 files in 0.00 s; restart 游戏 启动.exe",
  };
  ASSERT_EQ(log_.size(), starts.size());
  for (size_t i = 0; i < starts.size(); ++i) EXPECT_EQ(log_[i].substr(0, starts[i].size()), starts[i]) << log_[i];
  EXPECT_NE(log_[5].find("checksum ok"), rt::Text::npos);
}

}  // namespace

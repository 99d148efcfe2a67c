// update.log: its lines, their order over a run, and its trimming.
#include "app/update_log.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "runtime/text.h"

using namespace app;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }

TEST(UpdateLog, WhatStaysOfTheTailIsWholeLines) {
  const rt::Text nul(1, '\0');
  struct Case {
    rt::Text tail;
    bool starts_a_line;
    rt::Text kept;
  } const cases[] = {
      {"", true, ""},
      {"", false, ""},
      {"a\r\nb\r\n", true, "a\r\nb\r\n"},        // the file's first byte starts a line
      {"a\r\nb\r\n", false, "b\r\n"},            // a cut line goes
      {"\r\nb\r\n", false, "b\r\n"},
      {"no line end", false, ""},
      {nul + nul + nul + "t new\r\n", false, "t new\r\n"},  // a hole before the newest line
      {"t a\r\n" + nul + nul + "t b\r\n", true, "t a\r\n" + nul + nul + "t b\r\n"},
      {"a" + nul + nul + "t b\r\n", false, "t b\r\n"},      // a torn write ends a line
      {nul + nul, false, ""},
  };
  // Bytes throughout: a text conversion would stop at the first NUL.
  const auto bytes = [](const rt::Text& text) { return rt::Bytes(text.begin(), text.end()); };
  for (const Case& c : cases) {
    EXPECT_EQ(KeptLogTail(bytes(c.tail), c.starts_a_line), bytes(c.kept))
        << c.tail.size() << " bytes, " << c.starts_a_line;
  }
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
  EXPECT_GE(static_cast<int64_t>(log.size()), kLogKeptBytes - 1010);
  EXPECT_EQ(log.find("first"), rt::Text::npos);
  EXPECT_EQ(log.substr(log.size() - 10), "t newest\r\n");
  EXPECT_EQ(log.substr(0, 2), "t ");
}

// A log of gigabytes (here a sparse one: a line, a 3 GiB hole, a line) is
// trimmed by reading its end only: the newest lines stay, quickly, and the
// log is small again.
TEST_F(UpdateLogFile, AHugeLogIsTrimmedFromItsEnd) {
  constexpr int64_t k3G = int64_t{3} << 30;
  {
    rt::OpenedFile log(rt::OpenFile("update.log", rt::kModeCreateWrite, rt::kShareDenyNone));
    ASSERT_TRUE(log);
    ASSERT_TRUE(rt::WriteToFile(log.get(), rt::ToBytes(rt::Text("t oldest\r\n"))));
    ASSERT_TRUE(rt::SeekFile(log.get(), k3G));
    ASSERT_TRUE(rt::WriteToFile(log.get(), rt::ToBytes(rt::Text("t last before\r\n"))));
  }
  ASSERT_EQ(rt::FileSize64("update.log"), k3G + 15);
  AppendLogLine("update.log", "t", "newest");
  EXPECT_EQ(Read("update.log"), "t last before\r\nt newest\r\n");
}

TEST_F(UpdateLogFile, ALogThatCannotBeOpenedChangesNothing) {
  Write(kLogName, "kept\r\n");
  rt::OpenedFile holder(rt::OpenFile(kLogName, rt::kModeRead, rt::kShareExclusive));
  ASSERT_TRUE(holder);
  AppendLogLine(kLogName, "t", "lost");
  state_.PatchList = {{"a.dat", Sum("a")}};
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
  state_.PatchList = {{"a.dat", Sum("new a")}};
  RunPatchDownloads(flow_);
  const std::vector<rt::Text> starts = {
      "list http://127.0.0.1:8088/patch/528/filelist.txt: Unreachable, HTTP 0, 0 bytes",
      "retry 1/3 of the list",
      "list http://127.0.0.1:8088/patch/528/filelist.txt: Ok, HTTP 200, " + rt::ToText(static_cast<int64_t>(list_.body.size())) + " bytes",
      "checksum cache: none, full check",
      "checksums: 1 files, 0 from the cache, 1 read, 3 bytes read, 0.00 s; cache written",
      "list checked: 1 files to update",
      "download run: 1 files, 1 at once",
      "file a.dat: result 0 (Ok), 5 bytes, 0.00 s, 4.88 KB/s, checksum ok, mirror http://127.0.0.1:8088/",
      "installed a.dat (5 bytes)",
      "checksum cache written",
      "download run done: 1 files in 0.00 s; restart 游戏 启动.exe",
  };
  ASSERT_EQ(log_.size(), starts.size());
  for (size_t i = 0; i < starts.size(); ++i) EXPECT_EQ(log_[i].substr(0, starts[i].size()), starts[i]) << log_[i];
  EXPECT_NE(log_[7].find("checksum ok"), rt::Text::npos);
}

}  // namespace

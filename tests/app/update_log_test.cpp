// update.log: its lines, their order over a run, and its trimming.
#include "app/update_log.h"

#include <cstdlib>

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
  EXPECT_GE(static_cast<int64_t>(log.size()), kLogKeptBytes - 2020);
  EXPECT_EQ(log.substr(0, 27), "2026-01-02 03:04:05 first\r\n");  // the run's first line stays
  EXPECT_EQ(log.substr(log.size() - 10), "t newest\r\n");
}

rt::Bytes B(const rt::Text& text) { return rt::Bytes(text.begin(), text.end()); }
rt::Text T(const rt::Bytes& bytes) { return rt::Text(bytes.begin(), bytes.end()); }

// `count` lines "2026-01-02 03:04:05 <tag> n ..." of about 100 bytes.
rt::Text Lines(const rt::Text& tag, int count) {
  rt::Text out;
  for (int i = 0; i < count; ++i) out += "2026-01-02 03:04:05 " + tag + " " + rt::ToText(i) + rt::Text(70, '.') + "\r\n";
  return out;
}

rt::Text Start(const rt::Text& who) { return "2026-01-02 03:04:05 start: " + who + "\r\n"; }

TEST(UpdateLogTrim, OlderRunsGoFirstAndABigRunKeepsItsStart) {
  const rt::Text old_run = Start("launcher a.exe") + Lines("old", 200);  // about 20 KB
  const rt::Text big_run = Start("updater, started by a.exe") + "2026-01-02 03:04:05 list http://x/: Ok\r\n" +
                           "2026-01-02 03:04:05 checksums: 5000 files\r\n" + Lines("file", 3000);  // 300 KB
  const rt::Text small_run = Start("launcher a.exe") + Lines("new", 500);  // 50 KB
  struct Case {
    const char* name;
    rt::Text log;
    rt::Text first_line;     // what the trimmed log starts with
    rt::Text left_out_line;  // "" when nothing of a run is left out
  } const cases[] = {
      {"an older run that fits stays whole", old_run + small_run, Start("launcher a.exe"), ""},
      {"the oldest run goes first", old_run + small_run + small_run + small_run, Start("launcher a.exe") + "2026-01-02 03:04:05 new 0", ""},
      {"a big run keeps its start", old_run + big_run, Start("updater, started by a.exe"), "lines of this run left out]"},
      {"lines before any start go as the oldest run", Lines("orphan", 400) + small_run + small_run,
       Start("launcher a.exe"), ""},
  };
  for (const Case& c : cases) {
    const rt::Text kept = T(TrimmedLog(B(c.log), true));
    EXPECT_LE(static_cast<int64_t>(kept.size()), kLogKeptBytes) << c.name;
    EXPECT_EQ(kept.substr(0, c.first_line.size()), c.first_line) << c.name;
    EXPECT_EQ(kept.substr(kept.size() - 30), c.log.substr(c.log.size() - 30)) << c.name;  // the newest line
    EXPECT_EQ(kept.find(c.left_out_line.empty() ? "left out" : c.left_out_line) != rt::Text::npos,
              !c.left_out_line.empty())
        << c.name;
  }
  // The older run went whole when the small run came after three others.
  EXPECT_EQ(T(TrimmedLog(B(old_run + small_run + small_run + small_run), true)).find(" old "), rt::Text::npos);
}

TEST(UpdateLogTrim, ABigRunCountsWhatItLeftOutOverSeveralCuts) {
  const rt::Text head = Start("updater, started by a.exe") + "2026-01-02 03:04:05 checksums: 5000 files\r\n";
  rt::Text log = head + Lines("a", 3000);
  rt::Text kept = T(TrimmedLog(B(log), true));
  const size_t marker = kept.find("\r\n[");
  ASSERT_NE(marker, rt::Text::npos);
  const int64_t first_cut = std::atoll(kept.c_str() + marker + 3);
  EXPECT_EQ(kept.substr(0, head.size()), head);
  EXPECT_EQ(kept.substr(kept.size() - 30), log.substr(log.size() - 30));
  // The lines kept plus those left out are all of the run.
  size_t kept_lines = 0;
  for (char ch : kept) kept_lines += ch == '\n';
  EXPECT_EQ(static_cast<int64_t>(kept_lines) - 1 + first_cut, 3002);

  kept = T(TrimmedLog(B(kept + Lines("b", 2000)), true));
  const size_t again = kept.find("\r\n[");
  ASSERT_NE(again, rt::Text::npos);
  kept_lines = 0;
  for (char ch : kept) kept_lines += ch == '\n';
  EXPECT_EQ(static_cast<int64_t>(kept_lines) - 1 + std::atoll(kept.c_str() + again + 3), 5002);
  EXPECT_EQ(kept.substr(0, head.size()), head);
  EXPECT_EQ(kept.find("[", again + 3), rt::Text::npos);  // one left-out line
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

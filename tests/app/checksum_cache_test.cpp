// The checksum cache at the version check and in the download run: a file
// the cache must not vouch for is read again, proved by the checksum the
// check then finds (the list names the file's new content: read, it is up to
// date; taken from a stale record, it would be fetched).
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "checksum_cache/checksum_cache.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "list/layout.h"

using namespace app;
using namespace sums;
namespace fs = std::filesystem;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }

// Sets a file's last-write time to whole seconds, two hours back: whole
// seconds, so that any file system (and Windows' second-precision utime) can
// hold the very value again.
fs::file_time_type SetTimeBack(const std::string& path) {
  using std::chrono::duration_cast;
  using std::chrono::seconds;
  const fs::file_time_type back = fs::last_write_time(path) - std::chrono::hours(2);
  const fs::file_time_type whole(duration_cast<seconds>(back.time_since_epoch()));
  fs::last_write_time(path, whole);
  return whole;
}

rt::FileFacts FactsOf(const rt::Text& path) {
  const std::optional<rt::FileFacts> facts = rt::ReadFileFacts(path);
  EXPECT_TRUE(facts.has_value()) << path;
  return facts.value_or(rt::FileFacts());
}

// A record that claims `checksum` for the file at `path` as it is now.
SumRecord RecordOf(const rt::Text& path, int32_t checksum, uint64_t recorded_at) {
  const rt::FileFacts facts = FactsOf(path);
  SumRecord record;
  record.path = path;
  record.size = facts.size;
  record.last_write_time = facts.last_write_time;
  record.creation_time = facts.creation_time;
  record.identity = facts.identity;
  record.checksum = checksum;
  record.recorded_at = recorded_at;
  return record;
}

class ChecksumCacheTest : public FlowTest {
 protected:
  // A new start of the updater over the same folder: the check from nothing
  // but the files, update.sums included.
  void Start() {
    state_.PatchList.clear();
    log_.clear();
    CheckRemoteVersion(flow_);
  }
  CheckCounts Counts() { return state_.Checksums.counts(); }
  // The checksums line of the last check.
  rt::Text CountsLine() {
    for (const rt::Text& line : log_) {
      if (line.rfind("checksums: ", 0) == 0) return line;
    }
    return "";
  }
  rt::FileIdentity FolderIdentity() { return FactsOf(".").identity; }
  void WriteCache(const SumsFile& file) {
    ASSERT_TRUE(rt::WriteWholeFile(list::kChecksumCacheName, FormatSumsFile(file)));
  }
  // Writes content into an existing file in place: the same file, a new
  // last-write time.
  void Overwrite(const rt::Text& path, const rt::Text& content) {
    rt::OpenedFile file(rt::OpenFile(path, rt::kModeWrite, rt::kShareDenyNone));
    ASSERT_TRUE(file);
    ASSERT_TRUE(rt::WriteToFile(file.get(), rt::ToBytes(content)));
  }
};

}  // namespace

TEST_F(ChecksumCacheTest, AStartAfterTheFirstReadsOnlyWhatChanged) {
  Write("a.dat", "first file");
  rt::CreateFolderTree("data");
  Write("data\\b.dat", "second file, longer");
  SetList("a.dat#" + Sum("first file") + "\r\ndata\\b.dat#" + Sum("second file, longer") + "\r\nmissing.dat#0\r\n");

  Start();  // no cache: everything is read
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_EQ(log_[1], "checksum cache: none, full check");
  EXPECT_EQ(Counts().read, 3);
  EXPECT_EQ(Counts().bytes_read, 10 + 19);
  EXPECT_TRUE(rt::FileExists(list::kChecksumCacheName));

  Start();
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_EQ(log_[1], "checksum cache: 2 records");
  EXPECT_EQ(Counts().files, 3);
  EXPECT_EQ(Counts().from_cache, 2);
  EXPECT_EQ(Counts().read, 1);  // the missing file has no record
  EXPECT_EQ(Counts().bytes_read, 0);
  EXPECT_EQ(CountsLine(), "checksums: 3 files, 2 from the cache, 1 read, 0 bytes read, 0.00 s; cache unchanged");

  // One file changes: only it is read.
  Write("data\\b.dat", "second file, changed and longer");
  Start();
  EXPECT_EQ(Task(), "有最新版本，共有1个文件需要更新。");
  EXPECT_EQ(Counts().from_cache, 1);
  EXPECT_EQ(Counts().bytes_read, 31);
}

// Small files are read on two threads at once and large ones after them:
// what differs still comes out in list order, every file is read once, and
// every read is recorded.
TEST_F(ChecksumCacheTest, FilesReadOnSeveralThreadsKeepTheListOrderAndTheirRecords) {
  constexpr int kSmall = 300;
  rt::Text list;
  std::vector<rt::Text> differing;
  int64_t bytes = 0;
  for (int i = 0; i < kSmall; ++i) {
    if (i % 100 == 50) {  // a large file among them: 1 MiB and more, read alone
      const rt::Text name = "large" + rt::ToText(i) + ".pak";
      const rt::Text content((1 << 20) + i, static_cast<char>('a' + i % 26));
      Write(name, content);
      bytes += static_cast<int64_t>(content.size());
      const bool differs = i == 150;
      list += name + "#" + Sum(differs ? content + "!" : content) + "\r\n";
      if (differs) differing.push_back(name);
    }
    const rt::Text name = "small" + rt::ToText(i) + ".dat";
    const rt::Text content = "small file number " + rt::ToText(i);
    Write(name, content);
    bytes += static_cast<int64_t>(content.size());
    const bool differs = i % 7 == 3;
    list += name + "#" + Sum(differs ? content + "!" : content) + "\r\n";
    if (differs) differing.push_back(name);
  }
  list += "missing.dat#0\r\n";  // no file: checksum 0, as the list says
  SetList(list);

  Start();
  std::vector<rt::Text> fetched;
  for (const OutdatedFile& file : state_.PatchList) fetched.push_back(file.entry.path);
  EXPECT_EQ(fetched, differing);
  EXPECT_EQ(Counts().files, kSmall + 4);
  EXPECT_EQ(Counts().read, kSmall + 4);
  EXPECT_EQ(Counts().bytes_read, bytes);

  Start();
  EXPECT_EQ(Counts().from_cache, kSmall + 3);
  EXPECT_EQ(Counts().read, 1);  // the missing file
  fetched.clear();
  for (const OutdatedFile& file : state_.PatchList) fetched.push_back(file.entry.path);
  EXPECT_EQ(fetched, differing);
}

TEST_F(ChecksumCacheTest, FilesTheCacheMustNotVouchForAreReadAgain) {
  const rt::Text old_content = "old content!";  // 12 bytes
  const rt::Text new_content = "new content!";  // the same size
  struct Case {
    const char* what;
    rt::Text list_content;  // what the list says the file holds
    std::function<void(fs::file_time_type old_time)> change;
  } const cases[] = {
      {"size changed", "a longer new content", [this](fs::file_time_type) { Write("a.dat", "a longer new content"); }},
      {"time changed (written in place)", new_content, [&](fs::file_time_type) { Overwrite("a.dat", new_content); }},
      {"the same size and time, another file swapped in by rename", new_content,
       [&](fs::file_time_type old_time) {
         Write("a.new", new_content);
         fs::last_write_time("a.new", old_time);
         ASSERT_TRUE(rt::ReplaceFile("a.new", "a.dat"));
       }},
      {"replaced and its time set back", new_content,
       [&](fs::file_time_type old_time) {
         ASSERT_TRUE(rt::RemoveFile("a.dat"));
         Write("a.dat", new_content);
         fs::last_write_time("a.dat", old_time);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rt::RemoveFile(list::kChecksumCacheName);
    Write("a.dat", old_content);
    const fs::file_time_type old_time = SetTimeBack("a.dat");
    SetList("a.dat#" + Sum(c.list_content) + "\r\n");
    Start();  // records the old content
    EXPECT_EQ(Task(), "有最新版本，共有1个文件需要更新。");
    Start();  // the record stands
    EXPECT_EQ(Counts().from_cache, 1);

    c.change(old_time);
    Start();
    EXPECT_EQ(Task(), kTextUpToDate);  // the new content was read
    EXPECT_EQ(Counts().from_cache, 0);
    EXPECT_EQ(Counts().read, 1);
  }
}

TEST_F(ChecksumCacheTest, ACacheNotWholeOrFromAnotherFolderIsIgnoredWhole) {
  // The cache claims another checksum for a.dat with its very facts: taken,
  // the file would be fetched; read, it is up to date.
  Write("a.dat", "content");
  Write("b.dat", "other");
  SetTimeBack("a.dat");
  SetTimeBack("b.dat");
  SetList("a.dat#" + Sum("content") + "\r\nb.dat#" + Sum("other") + "\r\n");
  const uint64_t later = rt::FileTimeNow();
  SumsFile lying;
  lying.folder = FolderIdentity();
  lying.full_check_at = rt::FileTimeNow();  // a full check just made
  lying.records = {RecordOf("a.dat", 12345, later),
                   RecordOf("b.dat", checksum::FileChecksum(rt::ToBytes(rt::Text("other"))), later)};
  const rt::Bytes good = FormatSumsFile(lying);

  struct Case {
    const char* what;
    std::function<rt::Bytes()> bytes;
    bool taken;
    rt::Text load;      // the log's word on the cache
    int64_t grow_to = 0;  // a hostile file's length (sparse), when set
  } const cases[] = {
      {"intact: taken (the lie shows)", [&] { return good; }, true, "checksum cache: 2 records"},
      {"a damaged byte",
       [&] {
         rt::Bytes b = good;
         b[b.size() - 3] ^= 0x10;
         return b;
       },
       false, "checksum cache: refused, damaged (its checksum differs), full check"},
      {"cut short",
       [&] { return rt::Bytes(good.begin(), good.end() - 9); }, false,
       "checksum cache: refused, damaged (its checksum differs), full check"},
      {"cut to its header", [&] { return rt::Bytes(good.begin(), good.begin() + kSumsHeaderBytes); }, false,
       "checksum cache: refused, damaged (its checksum differs), full check"},
      {"empty", [] { return rt::Bytes(); }, false, "checksum cache: refused, shorter than its header, full check"},
      {"another folder's",
       [&] {
         SumsFile other = lying;
         other.folder.file_index ^= 1;
         return FormatSumsFile(other);
       },
       false, "checksum cache: made in another folder, full check"},
      {"a hostile record count",
       [&] {
         rt::Bytes b = good;
         b[15] = 0x7F;
         SealSumsFile(&b);
         return b;
       },
       false, "checksum cache: refused, too large, full check"},
      {"longer than the format allows", [&] { return good; }, false, "checksum cache: refused, too large, full check",
       kMaxSumsFileBytes + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rt::RemoveFile(list::kChecksumCacheName);
    ASSERT_TRUE(rt::WriteWholeFile(list::kChecksumCacheName, c.bytes()));
    if (c.grow_to > 0) fs::resize_file(list::kChecksumCacheName, static_cast<uintmax_t>(c.grow_to));
    Start();
    EXPECT_EQ(log_[1], c.load);
    if (c.taken) {
      EXPECT_EQ(Task(), "有最新版本，共有1个文件需要更新。");
      EXPECT_EQ(Counts().from_cache, 2);
    } else {
      EXPECT_EQ(Task(), kTextUpToDate);
      EXPECT_EQ(Counts().from_cache, 0);
      EXPECT_EQ(Counts().read, 2);  // nothing taken in part
    }
  }
}

// A file changed in place with its times put back shows its record's facts:
// a week after the last full check every file is read again, and a time kept
// for it that is ahead of the clock (a clock set back) is no reason to wait.
TEST_F(ChecksumCacheTest, AFullCheckAWeekAfterTheLastOne) {
  Write("a.dat", "content");
  SetTimeBack("a.dat");
  SetList("a.dat#" + Sum("content") + "\r\n");
  constexpr uint64_t kHour = 3600 * rt::kFileTimeTicksPerSecond;
  const uint64_t now = rt::FileTimeNow() + record_clock_ahead_;  // the cache's clock
  const struct {
    const char* what;
    uint64_t full_check_at;
    bool taken;
    const char* load;
  } cases[] = {
      {"an hour ago", now - kHour, true, "checksum cache: 1 records"},
      {"an hour short of a week", now - kFullCheckEveryTicks + kHour, true, "checksum cache: 1 records"},
      {"a week ago", now - kFullCheckEveryTicks - kHour, false,
       "checksum cache: 1 records, the last full check 7 days ago, full check"},
      {"a day ahead of the clock", now + 24 * kHour, false,
       "checksum cache: 1 records, the last full check not known or ahead of the clock, full check"},
      {"none known", 0, false, "checksum cache: 1 records, the last full check not known or ahead of the clock, full check"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SumsFile file;
    file.folder = FolderIdentity();
    file.full_check_at = c.full_check_at;
    file.records = {RecordOf("a.dat", 12345, now)};  // a lie only a read finds
    WriteCache(file);
    Start();
    EXPECT_EQ(log_[1], c.load);
    EXPECT_EQ(Task(), c.taken ? "有最新版本，共有1个文件需要更新。" : kTextUpToDate);
    const SumsRead kept = ParseSumsFile(rt::ReadWholeFile(list::kChecksumCacheName));
    ASSERT_TRUE(kept.ok());
    // A full check is the last one from now on; otherwise the time stays.
    if (c.taken) {
      EXPECT_EQ(kept.file.full_check_at, c.full_check_at);
    } else {
      EXPECT_GE(kept.file.full_check_at, now);
      Start();
      EXPECT_EQ(log_[1], "checksum cache: 1 records");
    }
  }
}

TEST_F(ChecksumCacheTest, ARecordMadeInTheFileSTickIsNotTrusted) {
  Write("a.dat", "content");
  SetTimeBack("a.dat");
  SetList("a.dat#" + Sum("content") + "\r\n");
  const rt::FileFacts facts = FactsOf("a.dat");
  // The same lying record, made a second after the file's last write and an
  // hour after it: only the latter is trusted.
  for (const auto& [after, trusted] : {std::pair{rt::kFileTimeTicksPerSecond, false},
                                       std::pair{kFreshWriteTicks, true},
                                       std::pair{3600 * rt::kFileTimeTicksPerSecond, true}}) {
    SCOPED_TRACE(after);
    SumsFile file;
    file.folder = FolderIdentity();
    file.full_check_at = rt::FileTimeNow();  // a full check just made
    file.records = {RecordOf("a.dat", 12345, facts.last_write_time + after)};
    WriteCache(file);
    Start();
    EXPECT_EQ(Counts().from_cache, trusted ? 1 : 0);
    EXPECT_EQ(Task(), trusted ? "有最新版本，共有1个文件需要更新。" : kTextUpToDate);
  }
  // A file's time after its record (a clock set back) is no match either.
  SumsFile file;
  file.folder = FolderIdentity();
  file.full_check_at = rt::FileTimeNow();  // a full check just made
  file.records = {RecordOf("a.dat", 12345, facts.last_write_time - 1)};
  WriteCache(file);
  Start();
  EXPECT_EQ(Task(), kTextUpToDate);

  // Records of files just written are made again, and trusted once the file
  // is older than the tick.
  Write("b.dat", "fresh");
  SetList("b.dat#" + Sum("fresh") + "\r\n");
  record_clock_ahead_ = 0;
  Start();
  Start();
  EXPECT_EQ(Counts().read, 1);
  record_clock_ahead_ = 3600 * rt::kFileTimeTicksPerSecond;
  Start();  // read again, now long after the write
  Start();
  EXPECT_EQ(Counts().from_cache, 1);
}

TEST_F(ChecksumCacheTest, AFileThatChangesWhileItIsReadIsReadAgainNextTime) {
  const rt::Text before(3 * checksum::kChecksumChunkSize, 'a');
  rt::Text after = before;
  after[0] = 'b';
  Write("a.dat", before);
  SetTimeBack("a.dat");
  SetList("a.dat#" + Sum(after) + "\r\n");
  int looks = 0;
  uint32_t clock = 0;
  flow_.services.tick_count = [&clock] { return clock += 30; };  // messages looked at between every chunk
  // The first look at the messages follows the file's facts, the second its
  // first chunk: the file is changed there, behind the read.
  flow_.services.process_events = [&] {
    if (++looks == 2) Overwrite("a.dat", "b");
  };
  Start();  // the bytes read are the old ones
  EXPECT_EQ(Task(), "有最新版本，共有1个文件需要更新。");
  Start();  // the write left other facts: read again, the new bytes found
  EXPECT_EQ(Counts().read, 1);
  EXPECT_EQ(Task(), kTextUpToDate);
}

TEST_F(ChecksumCacheTest, VerifyReadsEveryFileAndMakesTheRecordsAnew) {
  Write("a.dat", "content");
  SetTimeBack("a.dat");
  SetList("a.dat#" + Sum("content") + "\r\n");
  SumsFile lying;
  lying.folder = FolderIdentity();
  lying.full_check_at = rt::FileTimeNow();  // a full check just made
  lying.records = {RecordOf("a.dat", 12345, rt::FileTimeNow())};
  WriteCache(lying);

  state_.FullCheck = true;
  Start();
  EXPECT_EQ(log_[1], "checksum cache: not read (/verify), full check");
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_EQ(Counts().read, 1);
  EXPECT_EQ(Counts().bytes_read, 7);

  state_.FullCheck = false;
  Start();  // the record /verify made is the true one
  EXPECT_EQ(Counts().from_cache, 1);
  EXPECT_EQ(Task(), kTextUpToDate);
}

TEST_F(ChecksumCacheTest, TheCacheSwitchedOffReadsEverythingAndLeavesUpdateSumsAlone) {
  Write("a.dat", "content");
  SetTimeBack("a.dat");
  SetList("a.dat#" + Sum("content") + "\r\n");
  state_.UseChecksumCache = false;
  Start();
  EXPECT_EQ(log_[1], "checksum cache: off");
  EXPECT_FALSE(rt::FileExists(list::kChecksumCacheName));

  SumsFile lying;
  lying.folder = FolderIdentity();
  lying.full_check_at = rt::FileTimeNow();  // a full check just made
  lying.records = {RecordOf("a.dat", 12345, rt::FileTimeNow())};
  WriteCache(lying);
  Start();
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_EQ(Counts().read, 1);
  EXPECT_EQ(CountsLine(), "checksums: 1 files, 0 from the cache, 1 read, 7 bytes read, 0.00 s; cache off");
  EXPECT_EQ(rt::ReadWholeFile(list::kChecksumCacheName), FormatSumsFile(lying));

  // Nor does the run record or write anything.
  state_.PatchList = {{"b.dat", Sum("b")}};
  server_["http://127.0.0.1:8088/patch/528/b.dat"] = "b";
  RunPatchDownloads(flow_);
  EXPECT_EQ(rt::ReadWholeFile(list::kChecksumCacheName), FormatSumsFile(lying));
}

TEST_F(ChecksumCacheTest, TheStartAfterAnUpdateReadsWhatItInstalledOnce) {
  Write("old.dat", "version 1");
  Write("same.dat", "unchanged");
  SetTimeBack("old.dat");
  SetTimeBack("same.dat");
  SetList("old.dat#" + Sum("version 2") + "\r\nnew.dat#" + Sum("a new file") + "\r\nsame.dat#" + Sum("unchanged") +
          "\r\n");
  server_["http://127.0.0.1:8088/patch/528/old.dat"] = "version 2";
  server_["http://127.0.0.1:8088/patch/528/new.dat"] = "a new file";
  Start();
  ASSERT_EQ(state_.PatchList.size(), 2u);
  // The run's records are made right after each install, in the files' own
  // tick: another program could still write them unseen, so the next start
  // reads them once more, and the one after reads nothing.
  record_clock_ahead_ = 0;
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_EQ(log_.back().rfind("download run done", 0), 0u);
  EXPECT_NE(std::find(log_.begin(), log_.end(), "checksum cache written"), log_.end());

  record_clock_ahead_ = 3600 * rt::kFileTimeTicksPerSecond;
  Start();
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_EQ(Counts().from_cache, 1);
  EXPECT_EQ(Counts().read, 2);
  Start();
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_EQ(Counts().from_cache, 3);
  EXPECT_EQ(Counts().read, 0);
  EXPECT_NE(CountsLine().find(", 0 bytes read,"), rt::Text::npos) << CountsLine();
}

// Several transfers at once record their installs into the one cache.
TEST_F(ChecksumCacheTest, TheStartAfterARunOfSeveralTransfersReadsNoFile) {
  constexpr int kFiles = 24;
  rt::CreateFolderTree("data");
  rt::Text list;
  for (int i = 0; i < kFiles; ++i) {
    const rt::Text name = (i % 2 == 0 ? "data\\f" : "f") + rt::ToText(i) + ".dat";
    const rt::Text content = "file " + rt::ToText(i) + rt::Text(static_cast<size_t>(i * 53), 'y');
    list += name + "#" + Sum(content) + "\r\n";
    rt::Text url_name = name;
    std::replace(url_name.begin(), url_name.end(), '\\', '/');
    server_["http://127.0.0.1:8088/patch/528/" + url_name] = content;
  }
  SetList(list);
  Start();
  ASSERT_EQ(state_.PatchList.size(), static_cast<size_t>(kFiles));
  flow_.run.transfers = 4;
  RunPatchDownloads(flow_);
  ASSERT_EQ(Task(), kTextUpdateDone);
  const SumsRead read = ParseSumsFile(rt::ReadWholeFile(list::kChecksumCacheName));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.file.records.size(), static_cast<size_t>(kFiles));

  Start();
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_EQ(Counts().from_cache, kFiles);
  EXPECT_EQ(Counts().read, 0);
}

// The updater's own services record an installed entry in the state's cache,
// at the list's checksum, with the facts of the file in the client folder.
TEST_F(ChecksumCacheTest, TheRealServicesRecordAnInstalledFileInTheStatesCache) {
  SetList("none#0\r\n");
  Start();
  Write("a.dat", "installed");
  const FlowServices real = RealServices(state_, [] { return true; });
  ASSERT_TRUE(real.record_installed);
  real.record_installed(PatchEntry{"a.dat", Sum("installed"), std::nullopt}, state_.Client.Path("a.dat"));
  EXPECT_EQ(state_.Checksums.Save(), CacheSave::kWritten);
  const SumsRead read = ParseSumsFile(rt::ReadWholeFile(list::kChecksumCacheName));
  ASSERT_TRUE(read.ok());
  ASSERT_EQ(read.file.records.size(), 1u);
  EXPECT_EQ(read.file.records[0].path, "a.dat");
  EXPECT_EQ(rt::ToText(read.file.records[0].checksum), Sum("installed"));
  EXPECT_EQ(read.file.records[0].size, 9);
  EXPECT_EQ(read.file.records[0].identity, FactsOf("a.dat").identity);
}

TEST_F(ChecksumCacheTest, AFailedRunKeepsWhatItInstalledAndDropsWhatLeftTheList) {
  Write("keep.dat", "kept");
  SetTimeBack("keep.dat");
  SetList("one.dat#" + Sum("1") + "\r\ntwo.dat#" + Sum("2") + "\r\nkeep.dat#" + Sum("kept") + "\r\n");
  server_["http://127.0.0.1:8088/patch/528/one.dat"] = "1";  // two.dat is not on the server
  Start();
  RunPatchDownloads(flow_);
  EXPECT_EQ(Task(), kTextDownloadFailed);

  SetList("one.dat#" + Sum("1") + "\r\ntwo.dat#" + Sum("2") + "\r\n");  // keep.dat left the list
  Start();
  EXPECT_EQ(Counts().from_cache, 1);  // one.dat, installed before the failure
  EXPECT_EQ(Counts().read, 1);        // two.dat, missing
  const SumsRead read = ParseSumsFile(rt::ReadWholeFile(list::kChecksumCacheName));
  ASSERT_TRUE(read.ok());
  ASSERT_EQ(read.file.records.size(), 1u);
  EXPECT_EQ(read.file.records[0].path, "one.dat");
  EXPECT_EQ(read.file.records[0].origin, SumOrigin::kInstalled);
}

TEST_F(ChecksumCacheTest, InstallsAreRecordedFromManyThreadsAtOnce) {
  constexpr int kThreads = 4;
  constexpr int kFilesEach = 25;
  SetList("none#0\r\n");
  Start();
  for (int i = 0; i < kThreads * kFilesEach; ++i) Write("f" + std::to_string(i), std::to_string(i));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = t * kFilesEach; i < (t + 1) * kFilesEach; ++i) {
        state_.Checksums.RecordInstalled("f" + std::to_string(i), i);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(state_.Checksums.Save(), CacheSave::kWritten);
  EXPECT_EQ(state_.Checksums.Save(), CacheSave::kUnchanged);
  const SumsRead read = ParseSumsFile(rt::ReadWholeFile(list::kChecksumCacheName));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.file.records.size(), static_cast<size_t>(kThreads * kFilesEach));
}

// The download run may hand over the list entry it verified: its checksum
// is what the list's text names, and only a text in the checksum's own form
// names one.
TEST_F(ChecksumCacheTest, AnInstalledEntryIsRecordedAtItsListChecksum) {
  SetList("none#0\r\n");
  Start();
  Write("a.dat", "x");
  struct Case {
    rt::Text text;
    bool recorded;
  } const cases[] = {
      {"-648389339", true}, {"0", true}, {"2147483647", true}, {"-2147483648", true},
      {"+5", false},        {"05", false}, {"-0", false},      {"", false},
      {"5 ", false},        {"2147483648", false}, {"abc", false}, {"１２", false},
  };
  for (const Case& c : cases) {
    Start();
    state_.Checksums.RecordInstalled(list::PatchEntry{"a.dat", c.text, std::nullopt});
    EXPECT_EQ(state_.Checksums.Save(), c.recorded ? CacheSave::kWritten : CacheSave::kUnchanged) << c.text;
    const SumsRead read = ParseSumsFile(rt::ReadWholeFile(list::kChecksumCacheName));
    if (!c.recorded) continue;
    ASSERT_TRUE(read.ok());
    ASSERT_EQ(read.file.records.size(), 1u);
    EXPECT_EQ(rt::ToText(read.file.records[0].checksum), c.text);
    EXPECT_EQ(read.file.records[0].origin, SumOrigin::kInstalled);
    rt::RemoveFile(list::kChecksumCacheName);
  }
}

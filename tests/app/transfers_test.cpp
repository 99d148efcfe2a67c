// The download run with several transfers on threads of their own, over a
// scripted source: every file in, connections kept per transfer, a failure that
// stops the others promptly, nothing removed before its replacement is
// verified, the install step, and what the run tells the checksum cache.
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <thread>
#include <vector>

#include "app/disk_full.h"
#include "app/run/send_ahead.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "list/file_list.h"
#include "net/url_escape.h"
#include "runtime/text.h"
#include "trust/sha256.h"

using namespace app;
using net::DownloadResult;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }
const rt::Text kBase = "http://127.0.0.1:8088/patch/528/";

// Waits (bounded) until `done` holds; false when it never did.
template <typename Done>
bool WaitFor(Done done, int max_ms = 10000) {
  for (int waited = 0; waited < max_ms && !done(); waited += 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done();
}

class TransfersTest : public FlowTest {
 protected:
  // `count` files of distinct content, each replacing an old one.
  void ManyFiles(int count) {
    for (int i = 0; i < count; ++i) {
      const rt::Text name = "f" + rt::ToText(i) + ".dat";
      const rt::Text content = "content of file " + rt::ToText(i) + rt::Text(static_cast<size_t>(i * 37), 'x');
      state_.PatchList.push_back({name, Sum(content), {}});
      server_[kBase + name] = content;
      Write(name, "old " + name);
      total_bytes_ += static_cast<int64_t>(content.size());
    }
  }
  size_t LogLinesStarting(const rt::Text& start) {
    return static_cast<size_t>(std::count_if(log_.begin(), log_.end(), [&](const rt::Text& line) {
      return line.compare(0, start.size(), start) == 0;
    }));
  }
  int64_t total_bytes_ = 0;
};

TEST_F(TransfersTest, SeveralTransfersBringEveryFileOverConnectionsKeptPerTransfer) {
  ManyFiles(40);
  flow_.run.transfers = 4;
  std::atomic<int> in_flight{0}, most{0};
  std::vector<int32_t> connections;
  const auto serve = flow_.services.download;
  flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
    const int now = ++in_flight;
    for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
    }
    // The first call waits (bounded) for a second one to start beside it.
    WaitFor([&] { return most.load() >= 2; }, 5000);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      connections.push_back(options.connection != nullptr ? options.connection->Id() : 0);
    }
    const net::DownloadReport report = serve(options, sink, total, done);
    --in_flight;
    return report;
  };
  RunPatchDownloads(flow_);

  for (const OutdatedFile& file : state_.PatchList) EXPECT_EQ(Read(file.entry.path), server_[kBase + file.entry.path]);
  EXPECT_EQ(Requested().size(), 40u);
  EXPECT_GE(most.load(), 2);
  EXPECT_LE(most.load(), 4);
  // One connection object per transfer (one mirror): ids 1 to 4.
  for (int32_t id : connections) EXPECT_TRUE(id >= 1 && id <= 4) << id;
  EXPECT_EQ(state_.Job.runBytes.load(), total_bytes_);
  EXPECT_EQ(state_.Job.fileIndex.load(), 40);
  EXPECT_EQ(LogLinesStarting("installed "), 40u);
  EXPECT_EQ(LogLinesStarting("download run: 40 files, 4 at once"), 1u);
  EXPECT_EQ(LogLinesStarting("download run done: 40 files in "), 1u);
  // The restart comes once, after the last file.
  EXPECT_EQ(programs_.size(), 1u);
  EXPECT_EQ(ended_, std::vector<int32_t>{0});
  EXPECT_EQ(log_.back().compare(0, 19, "download run done: "), 0) << log_.back();
  EXPECT_EQ(Task(), kTextUpdateDone);
}

TEST_F(TransfersTest, AFailureStopsTheOtherTransfersPromptlyAndKeepsTheirOldFiles) {
  ManyFiles(3);
  flow_.run.transfers = 3;
  flow_.run.first_connections = 3;
  server_.erase(kBase + "f0.dat");  // a 404: every mirror refuses it
  std::atomic<int> slow_calls{0}, saw_cancel{0};
  const auto serve = flow_.services.download;
  flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                std::atomic<int64_t>& total, std::atomic<int64_t>& done) -> net::DownloadReport {
    if (options.url.file_name == "f0.dat") {
      // Only once the others are under way.
      WaitFor([&] { return slow_calls.load() == 2; }, 5000);
      return serve(options, sink, total, done);
    }
    ++slow_calls;
    // A slow transfer: part of the file, then nothing until cancelled.
    WritePart(sink, "part");
    if (WaitFor([&] { return options.cancel != nullptr && options.cancel->load(); })) ++saw_cancel;
    net::DownloadReport report(DownloadResult::Interrupted);
    report.reason = net::FailReason::kCancelled;
    return report;
  };
  const auto started = std::chrono::steady_clock::now();
  RunPatchDownloads(flow_);
  const auto took = std::chrono::steady_clock::now() - started;

  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(saw_cancel.load(), 2);
  EXPECT_EQ(Task(), kTextDownloadFailed);
  EXPECT_TRUE(EnterGameDisabled());
  EXPECT_TRUE(programs_.empty());
  EXPECT_TRUE(ended_.empty());
  for (const char* name : {"f0.dat", "f1.dat", "f2.dat"}) EXPECT_EQ(Read(name), rt::Text("old ") + name);
  // What the cancelled transfers had is kept for the next run.
  EXPECT_EQ(Read("f1.dat.tmp"), "part");
  EXPECT_EQ(LogLinesStarting("run failed at f0.dat (1/3)"), 1u);
}

TEST_F(TransfersTest, NothingIsRemovedBeforeItsReplacementIsVerified) {
  struct Case {
    const char* what;
    bool served;        // the server has the file
    rt::Text content;   // what it sends
    bool partial_kept;  // a partial file stays for the next run
  } const cases[] = {
      {"a 404", false, "", false},
      {"a file that does not match its list checksum", true, "not the new version", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log_.clear();
    server_.clear();
    Write("a.dat", "old version");
    state_.PatchList = {{"a.dat", Sum("new version"), {}}};
    if (c.served) server_[kBase + "a.dat"] = c.content;
    RunPatchDownloads(flow_);
    EXPECT_EQ(Read("a.dat"), "old version");
    EXPECT_EQ(rt::FileExists("a.dat.tmp"), c.partial_kept);
    EXPECT_EQ(Task(), kTextDownloadFailed);
    EXPECT_TRUE(programs_.empty());
  }
  // A cut that never completes: the old file stays, what arrived is kept.
  Write("a.dat", "old version");
  flow_.services.download = [](const net::DownloadOptions&, net::BodySink& sink, std::atomic<int64_t>&,
                                std::atomic<int64_t>&) {
    if (sink.Kept() < 0) WritePart(sink, "new");  // later tries get nothing more
    return net::DownloadReport(DownloadResult::Interrupted);
  };
  RunPatchDownloads(flow_);
  EXPECT_EQ(Read("a.dat"), "old version");
  EXPECT_EQ(Read("a.dat.tmp"), "new");
}

TEST_F(TransfersTest, ASignedEntryIsInstalledOnlyWithItsSizeAndSha256) {
  const rt::Text good = "the launcher, version 2, as signed";
  // Same size and 32-bit checksum: byte 5 raised by 31, byte 6 lowered by 1.
  rt::Text forged = good;
  forged[5] = static_cast<char>(forged[5] + 31);
  forged[6] = static_cast<char>(forged[6] - 1);
  ASSERT_EQ(Sum(forged), Sum(good));
  const rt::Bytes bytes = rt::ToBytes(good);
  const list::FileDigest digest{static_cast<int64_t>(bytes.size()), trust::Sha256Of(bytes.data(), bytes.size())};
  struct Case {
    const char* what;
    rt::Text sent;
    bool installed;
  } const cases[] = {
      {"the signed file", good, true},
      {"a forged file with the same checksum", forged, false},
      {"the file with bytes appended", good + "MZ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("启动 器.exe", "version 1");
    state_.PatchList = {{"启动 器.exe", Sum(good), digest}};
    server_[kBase + net::EscapeUrl("启动 器.exe")] = c.sent;
    int64_t expected = -2;
    const auto serve = flow_.services.download;
    flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                  std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
      expected = options.expected_size;
      return serve(options, sink, total, done);
    };
    programs_.clear();
    RunPatchDownloads(flow_);
    flow_.services.download = serve;
    EXPECT_EQ(expected, digest.size);
    EXPECT_EQ(Read("启动 器.exe"), c.installed ? good : "version 1");
    EXPECT_FALSE(rt::FileExists("启动 器.exe.tmp"));
    EXPECT_EQ(programs_.size(), c.installed ? 1u : 0u);  // no restart into a forged launcher
  }
}

TEST_F(TransfersTest, AHeldTargetFailsTheRunAndTheNextRunInstallsTheKeptFile) {
  state_.PatchList = {{"data\\held.pak", Sum("new pack")}};
  server_[kBase + "data/held.pak"] = "new pack";
  rt::CreateFolderTree("data");
  Write("data\\held.pak", "old pack");
  rt::OpenedFile holder;
  const auto serve = flow_.services.download;
  flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
    // The game starts while the file downloads and holds it.
    holder = rt::OpenedFile(rt::OpenFile("data\\held.pak", rt::kModeRead, rt::kShareExclusive));
    return serve(options, sink, total, done);
  };
  RunPatchDownloads(flow_);
  ASSERT_TRUE(holder);
  EXPECT_EQ(Task(), rt::FormatText(kTextFileInUse, "data\\held.pak"));
  EXPECT_EQ(Read("data\\held.pak.tmp"), "new pack");
  EXPECT_TRUE(programs_.empty());
  EXPECT_EQ(LogLinesStarting("install of data\\held.pak failed: in use"), 1u);
  holder.reset();
  EXPECT_EQ(Read("data\\held.pak"), "old pack");

  // The game let go: the complete partial file is installed as it is.
  flow_.services.download = serve;
  log_.clear();
  RunPatchDownloads(flow_);
  EXPECT_EQ(Read("data\\held.pak"), "new pack");
  EXPECT_FALSE(rt::FileExists("data\\held.pak.tmp"));
  ASSERT_GE(log_.size(), 2u);
  EXPECT_NE(log_[1].find(": result 0 (Ok), 0 bytes from offset 8,"), rt::Text::npos) << log_[1];
  EXPECT_EQ(programs_.size(), 1u);
}

TEST_F(TransfersTest, InstalledFilesAreToldToTheChecksumCache) {
  ManyFiles(5);
  flow_.run.transfers = 3;
  std::vector<rt::Text> recorded;
  flow_.services.record_installed = [&](const PatchEntry& entry, const rt::Text& path) {
    // One call at a time, after the file is in place.
    EXPECT_EQ(Read(path), server_[kBase + entry.path]);
    recorded.push_back(entry.path + "#" + entry.checksum.text());
  };
  RunPatchDownloads(flow_);
  std::sort(recorded.begin(), recorded.end());
  std::vector<rt::Text> want;
  for (const OutdatedFile& file : state_.PatchList) want.push_back(file.entry.path + "#" + file.entry.checksum.text());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(recorded, want);
}

// The proxy text only where the proxy setting explains the failure: the
// engine went direct past a setting it cannot follow and reached no server.
// Any HTTP answer, a 404 included, came over a working route.
TEST_F(TransfersTest, TheProxyTextOnlyForNoConnectionPastASettingNotFollowed) {
  using net::FailReason;
  using net::ProxyIssue;
  const struct {
    const char* what;
    DownloadResult result;
    FailReason reason;
    int32_t status;
    ProxyIssue issue;
    const char* text;
  } cases[] = {
      {"no connection, a script", DownloadResult::ConnectFailed, FailReason::kConnectTimedOut, 0,
       ProxyIssue::kAutoConfigScript, kTextProxyUnsupported},
      {"refused, SOCKS", DownloadResult::ConnectFailed, FailReason::kRefused, 0, ProxyIssue::kSocks,
       kTextProxyUnsupported},
      {"reset before an answer, credentials", DownloadResult::Interrupted, FailReason::kReset, 0,
       ProxyIssue::kCredentials, kTextProxyUnsupported},
      {"a 404, a script", DownloadResult::BadStatus, FailReason::kHttpStatus, 404, ProxyIssue::kAutoConfigScript,
       kTextDownloadFailed},
      {"a 503, SOCKS", DownloadResult::BadStatus, FailReason::kHttpStatus, 503, ProxyIssue::kSocks,
       kTextDownloadFailed},
      {"no connection, nothing set", DownloadResult::ConnectFailed, FailReason::kConnectTimedOut, 0, ProxyIssue::kNone,
       kTextDownloadFailed},
  };
  for (const auto& c : cases) {
    state_.PatchList = {{"a.dat", Sum("a")}};
    log_.clear();
    flow_.services.download = [&c](const net::DownloadOptions&, net::BodySink&, std::atomic<int64_t>&,
                                   std::atomic<int64_t>&) {
      net::DownloadReport report(c.result);
      report.reason = c.reason;
      report.http_status = c.status;
      report.proxy_issue = c.issue;
      return report;
    };
    RunPatchDownloads(flow_);
    EXPECT_EQ(Task(), c.text) << c.what;
    const bool proxy = rt::Text(c.text) == kTextProxyUnsupported;
    EXPECT_EQ(LogLinesStarting("run failed at a.dat (1/1): no mirror gave it, and the proxy setting could not be followed"),
              proxy ? 1u : 0u) << c.what;
  }
}

// A signed list gives every size: a run that clearly cannot fit is refused
// before anything is fetched, with the room still needed; a tight disk
// fetches one file at a time.
TEST_F(TransfersTest, ARunThatCannotFitIsRefusedBeforeItsFirstDownload) {
  auto signed_entry = [](const rt::Text& path, const rt::Text& content) {
    const rt::Bytes bytes = rt::ToBytes(content);
    return PatchEntry{path, Sum(content),
                      list::FileDigest{static_cast<int64_t>(bytes.size()), trust::Sha256Of(bytes.data(), bytes.size())}};
  };
  const rt::Text big(300000, 'b');
  state_.PatchList = {{signed_entry("a.dat", big)}, {signed_entry("b.dat", big)}};
  server_[kBase + "a.dat"] = big;
  server_[kBase + "b.dat"] = big;
  flow_.run.transfers = 2;
  int64_t free = 400000;  // two new files of 300000 bytes need 600000
  rt::Text asked_folder = "unasked";
  flow_.services.free_disk_space = [&](const rt::Text& folder) {
    asked_folder = folder;
    return free;
  };
  RunPatchDownloads(flow_);
  EXPECT_EQ(asked_folder, "");  // the client folder: here the current one
  EXPECT_EQ(Task(), DiskFullText(600000 - 400000));
  EXPECT_TRUE(Requested().empty());
  EXPECT_FALSE(rt::FileExists("a.dat.tmp"));
  EXPECT_TRUE(programs_.empty());

  // Both replace old files of their size: room for one new file beside the
  // old ones, not for two at once.
  Write("a.dat", rt::Text(300000, 'o'));
  Write("b.dat", rt::Text(300000, 'o'));
  log_.clear();
  RunPatchDownloads(flow_);
  EXPECT_EQ(Read("a.dat"), big);
  EXPECT_EQ(Read("b.dat"), big);
  EXPECT_EQ(LogLinesStarting("room check: 400000 bytes free, one file at a time"), 1u);
  EXPECT_EQ(programs_.size(), 1u);
}

TEST_F(TransfersTest, ADiskThatFillsDuringADownloadSaysSo) {
  struct Case {
    const char* what;
    bool sizes_known;
    rt::Text want;
  } const cases[] = {
      {"an unsigned list: no sizes", false, DiskFullText(0)},
      {"a signed list: the room the files not in yet need", true, DiskFullText(2000 - 500)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const rt::Text content(1000, 'c');
    const rt::Bytes bytes = rt::ToBytes(content);
    const list::FileDigest digest{1000, trust::Sha256Of(bytes.data(), bytes.size())};
    state_.PatchList = {{"a.dat", Sum(content), {}}, {"b.dat", Sum(content), {}}};
    if (c.sizes_known) {
      for (OutdatedFile& file : state_.PatchList) file.entry.digest = digest;
    }
    flow_.services.free_disk_space = [&](const rt::Text&) {
      return int64_t{c.sizes_known ? (log_.empty() || Requested().empty() ? 1000000 : 500) : -1};
    };
    flow_.services.download = [this](const net::DownloadOptions& options, net::BodySink&, std::atomic<int64_t>&,
                                     std::atomic<int64_t>&) {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        requested_.push_back(UrlOf(options.url));
      }
      net::DownloadReport report(DownloadResult::WriteFailed);
      report.reason = net::FailReason::kDiskFull;
      return report;
    };
    requested_.clear();
    log_.clear();
    RunPatchDownloads(flow_);
    EXPECT_EQ(Task(), c.want);
    EXPECT_EQ(Requested().size(), 1u);  // no second try and no other mirror: a full disk ends the run
    EXPECT_TRUE(programs_.empty());
    EXPECT_FALSE(rt::FileExists("a.dat"));
  }
}

}  // namespace

namespace {

// A scripted source that answers requests sent ahead on a connection only in
// the order sent, as a server does.
TEST_F(TransfersTest, RequestsSentAheadAreAnsweredInTurnAndGivenUpOnAnAnswerThatDoesNotVerify) {
  // `spoiled`: this file's answer sent ahead is another file's bytes.
  const struct Case { const char* spoiled; size_t given_up; } cases[] = {{"", 0}, {"f9.dat", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spoiled);
    log_.clear();
    state_.PatchList.clear();
    ManyFiles(30);
    flow_.run.transfers = 2;
    std::map<int32_t, std::deque<rt::Text>> ahead;
    size_t sent_after_give_up = 0, answered_ahead = 0;  // guarded by mutex_, as log_ is
    bool spoiled = false;
    flow_.services.send_ahead = [&](const net::DownloadOptions& options) {
      std::lock_guard<std::mutex> hold(mutex_);
      ahead[options.connection->Id()].push_back(UrlOf(options.url));
      sent_after_give_up += std::any_of(log_.begin(), log_.end(), [](const rt::Text& l) {
        return l.find("no more requests sent ahead") != rt::Text::npos;
      });
      return true;
    };
    const auto serve = flow_.services.download;
    flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                  std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
      const rt::Text url = UrlOf(options.url);
      bool was_ahead = false, spoil = false;
      {
        std::lock_guard<std::mutex> hold(mutex_);
        std::deque<rt::Text>& waiting = ahead[options.connection->Id()];
        was_ahead = !waiting.empty() && waiting.front() == url;
        // Another request first: the connection and what it sent ahead go.
        if (was_ahead) waiting.pop_front(); else waiting.clear();
        spoil = was_ahead && !spoiled && url == kBase + c.spoiled;
        spoiled = spoiled || spoil;
        answered_ahead += was_ahead ? 1 : 0;
      }
      net::DownloadReport report =
          spoil ? Serve(options, sink, rt::Text(server_[url].size(), '?'), total, done) : serve(options, sink, total, done);
      report.sent_ahead = was_ahead;
      return report;
    };
    RunPatchDownloads(flow_);
    flow_.services.download = serve;

    for (const OutdatedFile& file : state_.PatchList) EXPECT_EQ(Read(file.entry.path), server_[kBase + file.entry.path]);
    EXPECT_GT(answered_ahead, 0u);
    // The other transfer may be in the midst of one send when it is given up.
    EXPECT_LE(sent_after_give_up, 1u);
    const auto lines = [&](const char* text) {
      return std::count_if(log_.begin(), log_.end(), [&](const rt::Text& l) { return l.find(text) != rt::Text::npos; });
    };
    EXPECT_EQ(lines("requests sent ahead, up to"), 1);
    EXPECT_EQ(lines("no more requests sent ahead"), static_cast<long>(c.given_up));
    // The answer that did not verify is asked again using no try.
    EXPECT_EQ(LogLinesStarting("retry "), 0u);
    EXPECT_EQ(Task(), kTextUpdateDone);
  }
}

}  // namespace

// A server's limit on requests per connection closes one now and then after
// many answers, even a young connection; a server that does not keep up
// with requests sent ahead closes after few. Counted over the run and every
// connection to the mirror.
TEST(MirrorPipelining, GivesUpOnlyOnClosesThatComeAfterFewAnswers) {
  struct Note {
    int64_t answered, closes;
    bool gives_up;
  };
  const struct Case {
    const char* what;
    std::vector<Note> notes;
  } cases[] = {
      {"closed before any answer", {{0, 1, true}}},
      {"closed after two answers", {{2, 1, true}}},
      {"answers and no close", {{50, 0, false}, {0, 0, false}}},
      {"a limit: one close after many, then a young connection's", {{90, 1, false}, {1, 1, false}}},
      {"closes outrun the answers", {{10, 1, false}, {0, 3, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MirrorPipelining mirror;
    for (const Note& n : c.notes) EXPECT_EQ(mirror.NoteAnswersAndCloses(n.answered, n.closes), n.gives_up);
  }
}

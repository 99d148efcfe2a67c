// Retries of the download run and of the list fetch, driven through the
// flow's recording window and a scripted engine.
#include <functional>

#include "app/retry.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "net/download_result.h"
#include "runtime/text.h"

using namespace app;
using net::DownloadResult;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }
int32_t Code(DownloadResult r) { return static_cast<int32_t>(r); }

TEST(RetryPolicy, WhichFailuresAreWorthAnotherTry) {
  struct Case {
    DownloadResult result;
    bool transient;
  } const cases[] = {
      {DownloadResult::SocketFailed, false}, {DownloadResult::BindFailed, false},
      {DownloadResult::SizeMismatch, false}, {DownloadResult::BadStatus, false},
      {DownloadResult::WriteFailed, false},  {DownloadResult::ConnectFailed, true},
      {DownloadResult::SendFailed, true},    {DownloadResult::Interrupted, true},
      {DownloadResult::ServerError, true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsTransientDownload(Code(c.result)), c.transient) << ToString(c.result);
  EXPECT_FALSE(IsTransientDownload(0));
  EXPECT_FALSE(IsTransientDownload(42));

  struct FetchCase {
    rt::FetchOutcome end;
    int32_t status;
    bool transient;
  } const fetches[] = {
      {rt::FetchOutcome::kBadUrl, 0, false},     {rt::FetchOutcome::kOk, 200, false},
      {rt::FetchOutcome::kHttpError, 404, false}, {rt::FetchOutcome::kHttpError, 499, false},
      {rt::FetchOutcome::kHttpError, 500, true},  {rt::FetchOutcome::kHttpError, 503, true},
      {rt::FetchOutcome::kHttpError, 599, true},  {rt::FetchOutcome::kUnreachable, 0, true},
      {rt::FetchOutcome::kCutShort, 200, true},  {rt::FetchOutcome::kCutShort, 0, true},
      {rt::FetchOutcome::kTimedOut, 0, true},   {rt::FetchOutcome::kTooLarge, 200, false},
  };
  for (const FetchCase& c : fetches) {
    EXPECT_EQ(IsTransientFetch(rt::FetchResult{c.end, c.status, {}}), c.transient)
        << rt::ToString(c.end) << " " << c.status;
  }
}

TEST(RetryPolicy, NextAttemptAfterEachKindOfTry) {
  const int32_t ok = 0, cut = Code(DownloadResult::Interrupted), bad = Code(DownloadResult::BadStatus);
  struct Case {
    const char* what;
    int32_t result;
    bool checksum_ok, resumed;
    FileTries tries;
    NextStep want;
  } const cases[] = {
      {"a 4xx is final at once", bad, false, false, {0, false}, NextStep::kFail},
      {"a cut is tried again", cut, false, true, {0, false}, NextStep::kRetry},
      {"the third retry is the last", cut, false, true, {2, false}, NextStep::kRetry},
      {"no fourth retry", cut, false, true, {3, false}, NextStep::kFail},
      {"a match is done", ok, true, true, {3, true}, NextStep::kDone},
      {"a fresh mismatch is final", ok, false, false, {0, false}, NextStep::kFail},
      {"a resumed mismatch starts over", ok, false, true, {1, false}, NextStep::kRestartFromZero},
      {"only once", ok, false, true, {1, true}, NextStep::kFail},
      {"retries after a restart still count", cut, false, false, {3, true}, NextStep::kFail},
  };
  for (const Case& c : cases) EXPECT_EQ(NextAttempt(c.result, c.checksum_ok, c.resumed, c.tries), c.want) << c.what;
}

// The engine as a script: each call runs the next step, which sees the path
// and returns a result code; the partial file's size is recorded per call.
class RetryTest : public FlowTest {
 protected:
  using Step = std::function<int32_t(const rt::Text& path)>;
  void Script(std::vector<Step> steps) {
    steps_ = std::move(steps);
    flow_.services.download = [this](const net::DownloadUrl& target, const rt::Text& path, std::atomic<int32_t>& total,
                                     std::atomic<int32_t>& done) -> int32_t {
      const rt::Text url = net::UrlText(target);
      requested_.push_back(url);
      offsets_.push_back(rt::FileSize(path + ".tmp"));
      if (calls_ >= steps_.size()) return Code(DownloadResult::BadStatus);
      const int32_t result = steps_[calls_++](path);
      done = std::max<int32_t>(rt::FileSize(path + ".tmp"), rt::FileSize(path));
      total = done.load();
      return result;
    };
  }
  // A cut: `bytes` more of `content` arrive in the partial file.
  static Step Cut(const rt::Text& content, size_t bytes) {
    return [content, bytes](const rt::Text& path) {
      const rt::Text partial = path + ".tmp";
      const rt::Text kept = rt::ToText(rt::ReadWholeFile(partial));
      EXPECT_TRUE(rt::WriteWholeFile(partial, rt::ToBytes(content.substr(0, kept.size() + bytes))));
      return Code(DownloadResult::Interrupted);
    };
  }
  static Step Answer(DownloadResult result) {
    return [result](const rt::Text&) { return Code(result); };
  }
  // The rest arrives and the file is installed, as the engine does.
  static Step Rest(const rt::Text& content) {
    return [content](const rt::Text& path) {
      const rt::Text partial = path + ".tmp";
      const rt::Text kept = rt::ToText(rt::ReadWholeFile(partial));
      rt::RemoveFile(partial);
      EXPECT_TRUE(rt::WriteWholeFile(path, rt::ToBytes(kept + content.substr(kept.size()))));
      return 0;
    };
  }
  std::vector<rt::Text> RetryLabels() {
    std::vector<rt::Text> labels;
    for (const std::string& change : window_.changes)
      if (change.find("重试") != std::string::npos) labels.push_back(change);
    return labels;
  }

  std::vector<Step> steps_;
  size_t calls_ = 0;
  std::vector<int32_t> offsets_;
};

TEST_F(RetryTest, TransientFailuresAreRetriedWithGrowingWaitsAndResume) {
  const rt::Text content = "0123456789abcdefghij";
  globals_.PatchList = {{"a.dat", Sum(content)}};
  Script({Cut(content, 7), Answer(DownloadResult::ServerError), Cut(content, 5), Rest(content)});
  RunPatchDownloads(flow_);

  EXPECT_EQ(Read("a.dat"), content);
  EXPECT_FALSE(rt::FileExists("a.dat.tmp"));
  // Each retry resumed from what the earlier tries left.
  EXPECT_EQ(offsets_, (std::vector<int32_t>{-1, 7, 7, 12}));
  EXPECT_EQ(delays_, (std::vector<int32_t>{100, 1000, 2000, 4000}));
  const std::string task = std::string("SetCaption ") + ui::kCurrentTaskLabel + "=";
  EXPECT_EQ(RetryLabels(), (std::vector<rt::Text>{task + rt::FormatText(kTextRetrying, 1, 3),
                                                  task + rt::FormatText(kTextRetrying, 2, 3),
                                                  task + rt::FormatText(kTextRetrying, 3, 3)}));
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_EQ(programs_.size(), 1u);
  EXPECT_EQ(ended_, std::vector<int32_t>{0});
}

TEST_F(RetryTest, AFourthTransientFailureFailsTheRunAndKeepsThePartialFile) {
  const rt::Text content(100, 'x');
  globals_.PatchList = {{"a.dat", Sum(content)}, {"b.dat", Sum("b")}};
  Script({Cut(content, 10), Cut(content, 10), Answer(DownloadResult::ConnectFailed), Cut(content, 10),
          Rest(content)});
  RunPatchDownloads(flow_);

  EXPECT_EQ(calls_, 4u);  // the first try and three more; b.dat is never asked for
  EXPECT_EQ(Read("a.dat.tmp"), content.substr(0, 30));
  EXPECT_FALSE(rt::FileExists("a.dat"));
  EXPECT_EQ(Task(), kTextDownloadFailed);
  EXPECT_EQ(window_.props[ui::kProgressTimer].interval, 0);
  EXPECT_TRUE(EnterGameDisabled());
  EXPECT_TRUE(programs_.empty());
  EXPECT_TRUE(ended_.empty());
}

TEST_F(RetryTest, FinalFailuresAreNotRetried) {
  for (DownloadResult result : {DownloadResult::BadStatus, DownloadResult::WriteFailed,
                                DownloadResult::SizeMismatch, DownloadResult::SocketFailed}) {
    globals_.PatchList = {{"a.dat", Sum("a")}};
    calls_ = 0;
    delays_.clear();
    Script({Answer(result), Rest("a")});
    RunPatchDownloads(flow_);
    EXPECT_EQ(calls_, 1u) << ToString(result);
    EXPECT_EQ(delays_, std::vector<int32_t>{100}) << ToString(result);
    EXPECT_EQ(Task(), kTextDownloadFailed) << ToString(result);
    EXPECT_TRUE(programs_.empty());
  }
}

TEST_F(RetryTest, AResumedFileThatDoesNotMatchIsFetchedOnceMoreFromByteZero) {
  const rt::Text content = "the new version of the file";
  globals_.PatchList = {{"a.dat", Sum(content)}};
  // Left by an interrupted run of an older version of the file.
  Write("a.dat.tmp", "THE OLD");
  Script({Rest(content), Rest(content)});
  RunPatchDownloads(flow_);
  EXPECT_EQ(offsets_, (std::vector<int32_t>{7, -1}));
  EXPECT_EQ(Read("a.dat"), content);
  EXPECT_EQ(Task(), kTextUpdateDone);
}

TEST_F(RetryTest, AMismatchAfterAWholeFetchIsFinal) {
  globals_.PatchList = {{"a.dat", Sum("what the list says")}};
  Write("a.dat.tmp", "resumed");
  Script({Rest("resumed and wrong"), Rest("fresh and wrong"), Rest("what the list says")});
  RunPatchDownloads(flow_);
  EXPECT_EQ(calls_, 2u);
  EXPECT_EQ(Task(), kTextDownloadFailed);
  EXPECT_TRUE(programs_.empty());
}

// ---- the list fetch ----------------------------------------------------------

TEST_F(FlowTest, ListFetchIsRetriedAfterTransientFailures) {
  Write("a.dat", "old");
  SetList("a.dat#" + Sum("new") + "\r\n");
  fetch_script_ = {{rt::FetchOutcome::kHttpError, 503, rt::ToBytes(rt::Text("busy"))},
                   {rt::FetchOutcome::kUnreachable, 0, {}},
                   {rt::FetchOutcome::kCutShort, 200, rt::ToBytes(rt::Text("a.d"))}};
  CheckRemoteVersion(flow_);
  EXPECT_EQ(fetched_.size(), 4u);
  EXPECT_EQ(delays_, (std::vector<int32_t>{1000, 2000, 4000}));
  EXPECT_EQ(runs_started_, 1);
  EXPECT_EQ(Task(), "有最新版本，共有1个文件需要更新。");
  const std::string retry3 = std::string("SetCaption ") + ui::kCurrentTaskLabel + "=" + rt::FormatText(kTextRetrying, 3, 3);
  EXPECT_NE(std::find(window_.changes.begin(), window_.changes.end(), retry3), window_.changes.end());
}

TEST_F(FlowTest, ListFetchGivesUpAfterThreeMoreTries) {
  // The last answer is cut off: what arrived looks like a list but is not read.
  SetList("a.dat#1\r\n");
  fetch_script_ = {{rt::FetchOutcome::kUnreachable, 0, {}},
                   {rt::FetchOutcome::kHttpError, 500, rt::ToBytes(rt::Text("a.dat#1\r\n"))},
                   {rt::FetchOutcome::kUnreachable, 0, {}},
                   {rt::FetchOutcome::kCutShort, 200, rt::ToBytes(rt::Text("a.dat#1\r\n"))}};
  CheckRemoteVersion(flow_);
  EXPECT_EQ(fetched_.size(), 4u);
  EXPECT_EQ(Task(), kTextListFailed);
  EXPECT_TRUE(EnterGameDisabled());
  EXPECT_EQ(runs_started_, 0);
}

TEST_F(FlowTest, ListFetchIsNotRetriedAfterAFinalAnswer) {
  fetch_script_ = {{rt::FetchOutcome::kHttpError, 404, rt::ToBytes(rt::Text("<html>404</html>"))}};
  CheckRemoteVersion(flow_);
  EXPECT_EQ(fetched_.size(), 1u);
  EXPECT_TRUE(delays_.empty());
  EXPECT_EQ(Task(), kTextListFailed);
}

}  // namespace

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
  for (const Case& c : cases) EXPECT_EQ(IsTransientDownload(c.result), c.transient) << ToString(c.result);
  EXPECT_FALSE(IsTransientDownload(DownloadResult::Ok));
  EXPECT_FALSE(IsTransientDownload(DownloadResult::InstallFailed));
  EXPECT_FALSE(IsTransientDownload(DownloadResult::ProxyAuthRequired));

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

TEST(RetryPolicy, EachTryIsClassifiedForTheMirrorRules) {
  using net::FailReason;
  struct Case {
    const char* what;
    DownloadResult result;
    FailReason reason;
    bool verified, resumed_used;
    TryOutcome want;
    int64_t received = 0;
  } const cases[] = {
      {"a verified file", DownloadResult::Ok, FailReason::kNone, true, false, TryOutcome::kVerified},
      {"a whole file that does not verify", DownloadResult::Ok, FailReason::kNone, false, false, TryOutcome::kMismatch},
      {"a resumed one", DownloadResult::Ok, FailReason::kNone, false, true, TryOutcome::kStaleMismatch},
      {"a cut", DownloadResult::Interrupted, FailReason::kReset, false, false, TryOutcome::kTransient},
      {"a refused connection", DownloadResult::ConnectFailed, FailReason::kRefused, false, false,
       TryOutcome::kTransient},
      {"a 503", DownloadResult::ServerError, FailReason::kHttpStatus, false, false, TryOutcome::kTransient},
      {"a trickle below the floor", DownloadResult::Interrupted, FailReason::kBelowFloorRate, false, false,
       TryOutcome::kTransient},
      {"a cancelled try", DownloadResult::Interrupted, FailReason::kCancelled, false, false, TryOutcome::kCancelled},
      {"a cut after 16 KiB reached the partial file", DownloadResult::Interrupted, FailReason::kReset, false, false,
       TryOutcome::kAdvanced, kAdvancedCutBytes},
      {"a cut a byte short of that", DownloadResult::Interrupted, FailReason::kClosed, false, false,
       TryOutcome::kTransient, kAdvancedCutBytes - 1},
      {"a floor cut that moved the file on", DownloadResult::Interrupted, FailReason::kBelowFloorRate, false, false,
       TryOutcome::kAdvanced, 1 << 20},
      {"a cancelled try after many bytes", DownloadResult::Interrupted, FailReason::kCancelled, false, false,
       TryOutcome::kCancelled, 1 << 20},
      {"a 404", DownloadResult::BadStatus, FailReason::kHttpStatus, false, false, TryOutcome::kMirrorRefused},
      {"a wrong offset", DownloadResult::BadStatus, FailReason::kBadContentRange, false, false,
       TryOutcome::kMirrorRefused},
      {"another size than the list's", DownloadResult::BadStatus, FailReason::kSizeDiffers, false, false,
       TryOutcome::kMirrorRefused},
      {"a broken body", DownloadResult::SizeMismatch, FailReason::kMalformedBody, false, false,
       TryOutcome::kMirrorRefused},
      {"a proxy that wants credentials", DownloadResult::ProxyAuthRequired, FailReason::kProxyCredentials, false,
       false, TryOutcome::kMirrorRefused},
      {"a full disk", DownloadResult::WriteFailed, FailReason::kDiskFull, false, false, TryOutcome::kRunEnds},
      {"a partial file that cannot be opened", DownloadResult::WriteFailed, FailReason::kCannotOpen, false, false,
       TryOutcome::kRunEnds},
  };
  for (const Case& c : cases) {
    net::DownloadReport report(c.result);
    report.reason = c.reason;
    report.received = c.received;
    EXPECT_EQ(ClassifyTry(report, c.verified, c.resumed_used), c.want) << c.what;
  }
}

// The tries of one file over its mirrors, step by step: each case starts
// with First and feeds outcomes to After, checking every decision.
TEST(MirrorRules, EachDecisionAfterEachKindOfTry) {
  using K = NextTry::Kind;
  using O = TryOutcome;
  struct Step {
    O outcome;
    bool partial_left;
    NextTry want;
  };
  struct Case {
    const char* what;
    size_t mirrors;
    bool partial_kept;
    NextTry first;
    std::vector<Step> steps;
    bool named_by_content = false;
  };
  const NextTry give_up{};
  const Case cases[] = {
      {"one mirror: a cut is tried three more times, resuming, after 1, 2 and 4 s",
       1, false, {K::kTry, 0, false, 0, 0},
       {{O::kTransient, true, {K::kWaitThenTry, 0, false, 1000, 1}},
        {O::kTransient, true, {K::kWaitThenTry, 0, false, 2000, 2}},
        {O::kTransient, true, {K::kWaitThenTry, 0, false, 4000, 3}},
        {O::kTransient, true, give_up}}},
      {"one mirror: a 404 is final", 1, false, {K::kTry, 0, false, 0, 0}, {{O::kMirrorRefused, false, give_up}}},
      {"one mirror: a whole file that does not verify is final", 1, false, {K::kTry, 0, false, 0, 0},
       {{O::kMismatch, false, give_up}}},
      {"an earlier run's partial file that does not verify: once more from byte 0, at once",
       1, true, {K::kTry, 0, false, 0, 0},
       {{O::kStaleMismatch, false, {K::kTry, 0, false, 0, 0}}, {O::kMismatch, false, give_up}}},
      {"only one fetch from byte 0 per file", 1, true, {K::kTry, 0, false, 0, 0},
       {{O::kStaleMismatch, false, {K::kTry, 0, false, 0, 0}}, {O::kStaleMismatch, false, give_up}}},
      {"wrong bytes and a cut on the first mirror: the second gets the whole file",
       2, false, {K::kTry, 0, false, 0, 0}, {{O::kTransient, true, {K::kTry, 1, true, 0, 0}}}},
      {"a mismatch goes whole to the next mirror, which may be wrong too",
       2, false, {K::kTry, 0, false, 0, 0},
       {{O::kMismatch, false, {K::kTry, 1, false, 0, 0}}, {O::kMismatch, false, give_up}}},
      {"both cut: the next round starts where the partial file was written",
       2, false, {K::kTry, 0, false, 0, 0},
       {{O::kTransient, true, {K::kTry, 1, true, 0, 0}},
        {O::kTransient, true, {K::kWaitThenTry, 1, false, 1000, 1}},
        {O::kTransient, true, {K::kTry, 0, true, 0, 0}},
        {O::kTransient, true, {K::kWaitThenTry, 0, false, 2000, 2}},
        {O::kTransient, false, {K::kTry, 1, false, 0, 0}},
        {O::kMirrorRefused, false, {K::kWaitThenTry, 0, false, 4000, 3}},
        {O::kTransient, true, give_up}}},
      {"mirrors that refused are not asked again",
       3, false, {K::kTry, 0, false, 0, 0},
       {{O::kMirrorRefused, false, {K::kTry, 1, false, 0, 0}},
        {O::kTransient, true, {K::kTry, 2, true, 0, 0}},
        {O::kMirrorRefused, false, {K::kWaitThenTry, 1, false, 1000, 1}}}},
      {"an earlier run's partial file counts as the list mirror's",
       2, true, {K::kTry, 0, false, 0, 0}, {{O::kTransient, true, {K::kTry, 1, true, 0, 0}}}},
      {"a stale resume and a cut: one round after the wait for both, the fetch from 0 used up",
       2, true, {K::kTry, 0, false, 0, 0},
       {{O::kStaleMismatch, false, {K::kTry, 1, false, 0, 0}},
        {O::kTransient, true, {K::kWaitThenTry, 1, false, 1000, 1}},
        {O::kTransient, true, {K::kTry, 0, true, 0, 0}},
        {O::kStaleMismatch, false, {K::kWaitThenTry, 1, false, 2000, 2}}}},
      {"a server that turns the connection away is asked again soon, the partial file kept, no try used",
       2, false, {K::kTry, 0, false, 0, 0},
       {{O::kTurnedAway, true, {K::kWaitThenTry, 0, false, kTurnedAwayWaitMs, 0}},
        {O::kTransient, true, {K::kTry, 1, true, 0, 0}},
        {O::kTransient, false, {K::kWaitThenTry, 0, false, 1000, 1}}}},
      {"cuts that moved the partial file on: the same mirror at once, no try used", 2, false,
       {K::kTry, 0, false, 0, 0},
       {{O::kAdvanced, true, {K::kTry, 0, false, 0, 0}},
        {O::kAdvanced, true, {K::kTry, 0, false, 0, 0}},
        {O::kTransient, true, {K::kTry, 1, true, 0, 0}},
        {O::kAdvanced, true, {K::kTry, 1, false, 0, 0}},
        {O::kTransient, true, {K::kWaitThenTry, 1, false, 1000, 1}}}},
      {"an advanced cut whose partial file went counts as a cut", 1, false, {K::kTry, 0, false, 0, 0},
       {{O::kAdvanced, false, {K::kWaitThenTry, 0, false, 1000, 1}}}},
      {"a 404 on every mirror ends it in one round", 3, false, {K::kTry, 0, false, 0, 0},
       {{O::kMirrorRefused, false, {K::kTry, 1, false, 0, 0}},
        {O::kMirrorRefused, false, {K::kTry, 2, false, 0, 0}},
        {O::kMirrorRefused, false, give_up}}},
      {"a form, named by its content: a cut one resumes on the next mirror", 2, true, {K::kTry, 0, false, 0, 0},
       {{O::kTransient, true, {K::kTry, 1, false, 0, 0}},
        {O::kTransient, true, {K::kWaitThenTry, 1, false, 1000, 1}}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MirrorTries tries(c.mirrors, c.partial_kept, c.named_by_content);
    EXPECT_TRUE(tries.First() == c.first);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const NextTry got = tries.After(c.steps[i].outcome, c.steps[i].partial_left);
      const NextTry& want = c.steps[i].want;
      EXPECT_TRUE(got == want) << "step " << i << ": kind " << static_cast<int>(got.kind) << " mirror " << got.mirror
                               << " drop " << got.drop_partial << " wait " << got.wait_ms << " retry " << got.retry;
    }
  }
}

// However the tries end, a file gives up after a bounded number of them.
TEST(MirrorRules, EveryFileGivesUpAfterBoundedTries) {
  for (size_t mirrors = 1; mirrors <= 4; ++mirrors) {
    for (TryOutcome outcome : {TryOutcome::kTransient, TryOutcome::kStaleMismatch, TryOutcome::kMismatch,
                               TryOutcome::kMirrorRefused, TryOutcome::kTurnedAway}) {
      MirrorTries tries(mirrors, true);
      size_t count = 1;
      NextTry next = tries.First();
      while (next.kind != NextTry::Kind::kGiveUp && count < 100) {
        next = tries.After(outcome, outcome == TryOutcome::kTransient || outcome == TryOutcome::kTurnedAway);
        if (next.kind != NextTry::Kind::kGiveUp) ++count;
      }
      EXPECT_LE(count, mirrors * (1 + kMoreTries) + mirrors + kFreeTurnAways) << mirrors << " " << ToString(outcome);
      EXPECT_EQ(next.kind, NextTry::Kind::kGiveUp);
    }
  }
}

// The engine as a script: each call runs the next step, which sees the path
// and returns a result code; the partial file's size is recorded per call.
class RetryTest : public FlowTest {
 protected:
  // One try's step: what it writes through the chain after the kept part.
  using Step = std::function<DownloadResult(net::BodySink& sink, int64_t kept)>;
  void Script(std::vector<Step> steps) {
    steps_ = std::move(steps);
    flow_.services.download = [this](const net::DownloadOptions& options, net::BodySink& sink,
                                     std::atomic<int64_t>& total, std::atomic<int64_t>& done) -> net::DownloadReport {
      requested_.push_back(UrlOf(options.url));
      const int64_t offset = sink.Kept();
      offsets_.push_back(static_cast<int32_t>(offset));
      if (calls_ >= steps_.size()) return DownloadResult::BadStatus;
      // The verifier is shown the kept part first, as the engine shows it.
      EXPECT_TRUE(sink.Prepare(options.expected_size).ok());
      net::DownloadReport report(steps_[calls_++](sink, offset > 0 ? offset : 0));
      report.resumed = offset >= 0;
      report.resumed_from = offset > 0 ? offset : 0;
      report.http_status = offset > 0 ? 206 : 200;
      done = std::max<int64_t>(sink.Kept(), 0);
      total = done.load();
      return report;
    };
  }
  static void Append(net::BodySink& sink, const rt::Text& bytes) {
    EXPECT_TRUE(sink.Begin(false).ok());
    EXPECT_TRUE(sink.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()).ok());
    sink.End();
  }
  // A cut: `bytes` more of `content` arrive after the kept part.
  static Step Cut(const rt::Text& content, size_t bytes) {
    return [content, bytes](net::BodySink& sink, int64_t kept) {
      Append(sink, content.substr(static_cast<size_t>(kept), bytes));
      return DownloadResult::Interrupted;
    };
  }
  static Step Answer(DownloadResult result) {
    return [result](net::BodySink&, int64_t) { return result; };
  }
  // The rest arrives; the complete file waits in its partial file for the
  // run's check and install.
  static Step Rest(const rt::Text& content) {
    return [content](net::BodySink& sink, int64_t kept) {
      Append(sink, content.substr(static_cast<size_t>(kept)));
      return DownloadResult::Ok;
    };
  }

  std::vector<Step> steps_;
  size_t calls_ = 0;
  std::vector<int32_t> offsets_;
};

TEST_F(RetryTest, TransientFailuresAreRetriedWithGrowingWaitsAndResume) {
  const rt::Text content = "0123456789abcdefghij";
  state_.PatchList = {{"a.dat", Sum(content)}};
  Script({Cut(content, 7), Answer(DownloadResult::ServerError), Cut(content, 5), Rest(content)});
  RunPatchDownloads(flow_);

  EXPECT_EQ(Read("a.dat"), content);
  EXPECT_FALSE(rt::FileExists("a.dat.tmp"));
  // Each retry resumed from what the earlier tries left.
  EXPECT_EQ(offsets_, (std::vector<int32_t>{-1, 7, 7, 12}));
  // No pause before the file; the waits before the three retries.
  EXPECT_EQ(delays_, (std::vector<int32_t>{1000, 2000, 4000}));
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_EQ(programs_.size(), 1u);
  EXPECT_EQ(ended_, std::vector<int32_t>{0});
}

TEST_F(RetryTest, AFourthTransientFailureFailsTheRunAndKeepsThePartialFile) {
  const rt::Text content(100, 'x');
  state_.PatchList = {{"a.dat", Sum(content)}, {"b.dat", Sum("b")}};
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
    state_.PatchList = {{"a.dat", Sum("a")}};
    calls_ = 0;
    delays_.clear();
    Script({Answer(result), Rest("a")});
    RunPatchDownloads(flow_);
    EXPECT_EQ(calls_, 1u) << ToString(result);
    EXPECT_TRUE(delays_.empty()) << ToString(result);
    EXPECT_EQ(Task(), kTextDownloadFailed) << ToString(result);
    EXPECT_TRUE(programs_.empty());
  }
}

TEST_F(RetryTest, AResumedFileThatDoesNotMatchIsFetchedOnceMoreFromByteZero) {
  const rt::Text content = "the new version of the file";
  state_.PatchList = {{"a.dat", Sum(content)}};
  // Left by an interrupted run of an older version of the file.
  Write("a.dat.tmp", "THE OLD");
  Script({Rest(content), Rest(content)});
  RunPatchDownloads(flow_);
  EXPECT_EQ(offsets_, (std::vector<int32_t>{7, -1}));
  EXPECT_EQ(Read("a.dat"), content);
  EXPECT_EQ(Task(), kTextUpdateDone);
}

TEST_F(RetryTest, AMismatchAfterAWholeFetchIsFinal) {
  state_.PatchList = {{"a.dat", Sum("what the list says")}};
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

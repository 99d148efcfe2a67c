// Several base URLs: the list from the first mirror that gives a usable one,
// each file from the list's mirror first, then the others in order.
#include <map>
#include <set>

#include "app/check/list_trust.h"
#include "app/patch_site.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "list/file_list.h"
#include "runtime/text.h"
#include "trust/list_keys.h"
#include "trust/sha256.h"

using namespace app;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }

// The signed form of a one-entry list for `content`.
rt::Text SignedList(const rt::Text& content, uint64_t sequence, const trust::SecretKey& key) {
  const rt::Bytes bytes = rt::ToBytes(content);
  const list::FileDigest digest{static_cast<int64_t>(bytes.size()), trust::Sha256Of(bytes.data(), bytes.size())};
  const rt::Text entries = "a.dat#" + Sum(content) + "\r\n" + list::HashLine(digest) + "\r\n";
  return rt::ToText(trust::SignList(rt::ToBytes(entries), sequence, key, std::nullopt, "528"));
}

const rt::Text kA = "http://a.example:8088/";
const rt::Text kB = "http://127.0.0.1:8089/";
const rt::Text kC = "http://c.example/updates/";

class MirrorFlow : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    state_.Site = PatchSite(kA + ";" + kB + ";" + kC, 528);
    flow_.services.fetch_url = [this](const rt::Text& url) {
      fetched_.push_back(url);
      const auto down = transient_.find(url);
      if (down != transient_.end() && down->second > 0) {
        --down->second;
        return rt::FetchResult{rt::FetchOutcome::kUnreachable, 0, {}};
      }
      const auto it = lists_.find(url);
      if (it == lists_.end()) return rt::FetchResult{rt::FetchOutcome::kHttpError, 404, {}};
      return rt::FetchResult{rt::FetchOutcome::kOk, 200, rt::ToBytes(it->second)};
    };
  }
  rt::Text ListMirrorText() const { return state_.Site.MirrorText(state_.Site.ListMirror()); }
  static rt::Text ListUrl(const rt::Text& base) { return base + "patch/528/filelist.txt"; }
  void UseKey() {
    auto key = trust::NewKeyPair();
    ASSERT_TRUE(key);
    key_ = *key;
    state_.ListPublicKey = rt::LowerHexOf(key_.public_key.data(), key_.public_key.size());
  }
  std::map<rt::Text, rt::Text> lists_;  // URL -> body; missing: a 404
  std::map<rt::Text, int> transient_;   // URL -> answers still unreachable
  trust::KeyPair key_;
};

TEST_F(MirrorFlow, ListComesFromTheFirstMirrorWithAUsableOne) {
  Write("a.dat", "old");
  lists_[ListUrl(kA)] = "<html>502</html>";
  lists_[ListUrl(kB)] = "a.dat#" + Sum("new") + "\r\n";
  lists_[ListUrl(kC)] = "a.dat#1\r\n";
  CheckRemoteVersion(flow_);
  EXPECT_EQ(fetched_, std::vector<rt::Text>({ListUrl(kA), ListUrl(kB)}));
  EXPECT_EQ(ListMirrorText(), kB);
  EXPECT_EQ(runs_started_, 1);

  // No mirror with a usable list: the one failure text.
  lists_.clear();
  fetched_.clear();
  runs_started_ = 0;
  CheckRemoteVersion(flow_);
  EXPECT_EQ(fetched_.size(), 3u);
  EXPECT_EQ(Task(), kTextListFailed);
  EXPECT_EQ(runs_started_, 0);
}

TEST_F(MirrorFlow, SignedListOlderThanTheLastAcceptedIsSkipped) {
  UseKey();
  ASSERT_TRUE(WriteAcceptedSequence(kSequenceFileName, 6, "528"));
  lists_[ListUrl(kA)] = SignedList("new", 5, key_.secret_key);  // a cache's old list
  lists_[ListUrl(kB)] = SignedList("new", 7, key_.secret_key);
  CheckRemoteVersion(flow_);
  EXPECT_EQ(ListMirrorText(), kB);
  EXPECT_EQ(runs_started_, 1);
  EXPECT_EQ(ReadAcceptedSequence(kSequenceFileName), 7u);
}

// Signed: the mirrors are asked in order until one gives a list above the
// kept sequence; once one at the kept sequence is in hand, those left are
// asked at once, and the highest of all is taken.
TEST_F(MirrorFlow, SignedListsAreAskedForUntilOneIsAboveTheAcceptedSequence) {
  UseKey();
  Write("a.dat", "v6");
  struct Case {
    const char* what;
    uint64_t kept;
    uint64_t a, b, c;  // each mirror's sequence; 0: a 404
    rt::Text taken;    // the mirror whose list is taken
    size_t asked;      // lists fetched
  } const cases[] = {
      {"6, then 7 and 8 asked at once: the highest", 6, 6, 7, 8, kC, 3},
      {"7 above 6: no more asked", 6, 7, 8, 8, kA, 1},
      {"a fresh client takes the first list above 0", 0, 6, 7, 8, kA, 1},
      {"nothing above: the highest of all, the first of equals", 7, 7, 0, 7, kA, 3},
      {"the higher one later in the order", 5, 5, 0, 9, kC, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteAcceptedSequence(kSequenceFileName, c.kept, "528"));
    user_values_.clear();
    lists_.clear();
    fetched_.clear();
    const std::pair<rt::Text, uint64_t> mirrors[] = {{kA, c.a}, {kB, c.b}, {kC, c.c}};
    for (const auto& [base, sequence] : mirrors) {
      if (sequence != 0) lists_[ListUrl(base)] = SignedList("v" + rt::ToText(static_cast<int64_t>(sequence)), sequence, key_.secret_key);
    }
    CheckRemoteVersion(flow_);
    EXPECT_EQ(ListMirrorText(), c.taken);
    EXPECT_EQ(fetched_.size(), c.asked);
    const uint64_t taken = c.taken == kA ? c.a : c.taken == kB ? c.b : c.c;
    EXPECT_EQ(ReadAcceptedSequence(kSequenceFileName), std::max(taken, c.kept));
    EXPECT_TRUE(delays_.empty());
  }
}

TEST_F(MirrorFlow, EveryMirrorIsAskedOnceBeforeAnyWait) {
  Write("a.dat", "old");
  // Unsigned: A down for good, B gives a list. B at once, no wait.
  transient_[ListUrl(kA)] = 100;
  lists_[ListUrl(kB)] = "a.dat#" + Sum("new") + "\r\n";
  CheckRemoteVersion(flow_);
  EXPECT_EQ(fetched_, std::vector<rt::Text>({ListUrl(kA), ListUrl(kB)}));
  EXPECT_TRUE(delays_.empty());
  EXPECT_EQ(ListMirrorText(), kB);

  // Every mirror down at first: a round over all, then waits and rounds over
  // those that failed on the way (C answers 404: final, not asked again).
  fetched_.clear();
  transient_ = {{ListUrl(kA), 2}, {ListUrl(kB), 100}};
  lists_ = {{ListUrl(kA), "a.dat#" + Sum("new") + "\r\n"}};
  CheckRemoteVersion(flow_);
  EXPECT_EQ(fetched_, std::vector<rt::Text>({ListUrl(kA), ListUrl(kB), ListUrl(kC), ListUrl(kA), ListUrl(kB),
                                             ListUrl(kA)}));
  EXPECT_EQ(delays_, (std::vector<int32_t>{1000, 2000}));
  EXPECT_EQ(ListMirrorText(), kA);
}

// With a list at the kept sequence in hand, the mirrors left (and one that
// was down before it) are asked once more, at once, without a wait.
TEST_F(MirrorFlow, SignedListAtTheKeptSequenceAsksTheOthersAtOnce) {
  UseKey();
  Write("a.dat", "v7");
  ASSERT_TRUE(WriteAcceptedSequence(kSequenceFileName, 6, "528"));
  transient_[ListUrl(kA)] = 1;  // down once, then at 7
  lists_[ListUrl(kA)] = SignedList("v7", 7, key_.secret_key);
  lists_[ListUrl(kB)] = SignedList("v6", 6, key_.secret_key);
  CheckRemoteVersion(flow_);
  EXPECT_EQ(fetched_, std::vector<rt::Text>({ListUrl(kA), ListUrl(kB), ListUrl(kC), ListUrl(kA)}));
  EXPECT_TRUE(delays_.empty());
  EXPECT_EQ(at_once_waits_, (std::vector<uint32_t>{3000}));
  EXPECT_EQ(ListMirrorText(), kA);
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_EQ(ReadAcceptedSequence(kSequenceFileName), 7u);
}

// A current client (its list at the kept sequence) goes on once the short
// wait for the others has passed, whether they are silent or drip; a newer
// list that does come in time is taken.
TEST_F(MirrorFlow, MirrorsThatDoNotAnswerInTimeDoNotHoldACurrentClient) {
  UseKey();
  Write("a.dat", "v6");
  struct Case {
    const char* what;
    std::set<rt::Text> silent;
    rt::Text taken;
    const char* task;
  } const cases[] = {
      {"B and C silent: the list at 6 from A", {ListUrl(kB), ListUrl(kC)}, kA, kTextUpToDate},
      {"B silent, C at 7 in time: C's", {ListUrl(kB)}, kC, "有最新版本，共有1个文件需要更新。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteAcceptedSequence(kSequenceFileName, 6, "528"));
    log_.clear();
    lists_ = {{ListUrl(kA), SignedList("v6", 6, key_.secret_key)}, {ListUrl(kB), SignedList("v7", 7, key_.secret_key)},
              {ListUrl(kC), SignedList("v7", 7, key_.secret_key)}};
    no_answer_ = c.silent;
    CheckRemoteVersion(flow_);
    EXPECT_EQ(ListMirrorText(), c.taken);
    EXPECT_EQ(Task(), c.task);
    EXPECT_TRUE(delays_.empty());
    EXPECT_NE(std::find(log_.begin(), log_.end(), "list " + ListUrl(kB) + ": no answer in 0.00 s; going on without it"),
              log_.end());
  }
}

TEST_F(MirrorFlow, FileMovesToTheNextMirrorOnAnyFailedTry) {
  state_.Site.UseListMirror(1);  // the list came from the second mirror, kB
  state_.PatchList = {{"x.dat", Sum("x v2")}, {"y.dat", Sum("y v2")}};
  // x: missing on B, stale on A (wrong checksum), right on C. y: right on B.
  server_[kA + "patch/528/x.dat"] = "x stale";
  server_[kC + "patch/528/x.dat"] = "x v2";
  server_[kB + "patch/528/y.dat"] = "y v2";
  RunPatchDownloads(flow_);
  EXPECT_EQ(requested_, std::vector<rt::Text>({kB + "patch/528/x.dat", kA + "patch/528/x.dat",
                                               kC + "patch/528/x.dat", kB + "patch/528/y.dat"}));
  EXPECT_EQ(Read("x.dat"), "x v2");
  EXPECT_EQ(Read("y.dat"), "y v2");
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_EQ(ended_.size(), 1u);
}

TEST_F(MirrorFlow, RunFailsOnlyWhenEveryMirrorFailed) {
  state_.PatchList = {{"x.dat", Sum("x v2")}, {"y.dat", Sum("y v2")}};
  RunPatchDownloads(flow_);
  EXPECT_EQ(requested_, std::vector<rt::Text>({kA + "patch/528/x.dat", kB + "patch/528/x.dat",
                                               kC + "patch/528/x.dat"}));
  EXPECT_EQ(Task(), kTextDownloadFailed);
  EXPECT_TRUE(programs_.empty());
  EXPECT_TRUE(ended_.empty());
}

// Mirror A sends wrong bytes and cuts; B has the file. The partial file A
// wrote is never resumed on B: B sends the whole file, which verifies.
TEST_F(MirrorFlow, APartialFileIsResumedOnlyOnTheMirrorThatWroteIt) {
  state_.Site = PatchSite(kA + ";" + kB, 528);
  const rt::Text good = "the whole file from the good mirror";
  state_.PatchList = {{"x.dat", Sum(good)}};
  Write("x.dat", "old x");
  server_[kB + "patch/528/x.dat"] = good;
  std::vector<int64_t> partial_at_call;
  const auto serve = flow_.services.download;
  flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
    partial_at_call.push_back(sink.Kept());
    if (UrlOf(options.url) == kA + "patch/528/x.dat") {
      WritePart(sink, "WRONG BYTES");
      return net::DownloadReport(net::DownloadResult::Interrupted);
    }
    return serve(options, sink, total, done);
  };
  RunPatchDownloads(flow_);
  EXPECT_EQ(partial_at_call, (std::vector<int64_t>{-1, -1}));
  EXPECT_EQ(Read("x.dat"), good);
  EXPECT_TRUE(delays_.empty());
  EXPECT_EQ(Task(), kTextUpdateDone);
  EXPECT_NE(std::find(log_.begin(), log_.end(), "partial file of x.dat dropped: not resumed on " + kB), log_.end());

  // An earlier run's partial file counts as the list mirror's: resumed on A,
  // dropped before B.
  Write("y.dat.tmp", "y v");
  state_.PatchList = {{"y.dat", Sum("y v2")}};
  server_ = {{kA + "patch/528/y.dat", "y v2"}};
  partial_at_call.clear();
  RunPatchDownloads(flow_);
  EXPECT_EQ(partial_at_call, (std::vector<int64_t>{3}));
  EXPECT_EQ(Read("y.dat"), "y v2");
}

TEST_F(MirrorFlow, AFileThatDoesNotVerifyGoesWholeToTheNextMirror) {
  state_.Site = PatchSite(kA + ";" + kB, 528);
  state_.PatchList = {{"x.dat", Sum("x v2")}};
  Write("x.dat", "x v1");
  server_[kA + "patch/528/x.dat"] = "x v3";  // a stale cache: same size, other bytes
  server_[kB + "patch/528/x.dat"] = "x v2";
  std::vector<int64_t> partial_at_call;
  const auto serve = flow_.services.download;
  flow_.services.download = [&](const net::DownloadOptions& options, net::BodySink& sink,
                                std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
    partial_at_call.push_back(sink.Kept());
    return serve(options, sink, total, done);
  };
  RunPatchDownloads(flow_);
  EXPECT_EQ(requested_, std::vector<rt::Text>({kA + "patch/528/x.dat", kB + "patch/528/x.dat"}));
  EXPECT_EQ(partial_at_call, (std::vector<int64_t>{-1, -1}));
  EXPECT_EQ(Read("x.dat"), "x v2");
  EXPECT_EQ(Task(), kTextUpdateDone);
}

}  // namespace

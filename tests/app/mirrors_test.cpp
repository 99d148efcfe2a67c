// Several base URLs: the list from the first mirror that gives a usable one,
// each file from the list's mirror first, then the others in order.
#include <map>

#include "app/list_trust.h"
#include "app/patch_site.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "trust/list_keys.h"

using namespace app;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }

const rt::Text kA = "http://a.example:8088/";
const rt::Text kB = "http://127.0.0.1:8089/";
const rt::Text kC = "http://c.example/updates/";

class MirrorFlow : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    globals_.Site = PatchSite(kA + ";" + kB + ";" + kC, 528, "");
    flow_.services.fetch_url = [this](const rt::Text& url) {
      fetched_.push_back(url);
      const auto it = lists_.find(url);
      if (it == lists_.end()) return rt::FetchResult{rt::FetchOutcome::kHttpError, 404, {}};
      return rt::FetchResult{rt::FetchOutcome::kOk, 200, rt::ToBytes(it->second)};
    };
  }
  static rt::Text ListUrl(const rt::Text& base) { return base + "patch/528/filelist.txt"; }
  std::map<rt::Text, rt::Text> lists_;  // URL -> body; missing: a 404
};

TEST(Mirrors, SettingSplitsAtSemicolons) {
  EXPECT_EQ(SplitMirrors("http://127.0.0.1:8088/"), std::vector<rt::Text>({"http://127.0.0.1:8088/"}));
  EXPECT_EQ(SplitMirrors(" http://a/ ;http://b:81/;; "), std::vector<rt::Text>({"http://a/", "http://b:81/"}));
  EXPECT_TRUE(SplitMirrors("").empty());
}

TEST_F(MirrorFlow, ListComesFromTheFirstMirrorWithAUsableOne) {
  Write("a.dat", "old");
  lists_[ListUrl(kA)] = "<html>502</html>";
  lists_[ListUrl(kB)] = "a.dat#" + Sum("new") + "\r\n";
  lists_[ListUrl(kC)] = "a.dat#1\r\n";
  CheckRemoteVersion(flow_);
  EXPECT_EQ(fetched_, std::vector<rt::Text>({ListUrl(kA), ListUrl(kB)}));
  EXPECT_EQ(globals_.Site.ServerBaseUrl(), kB);
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
  auto key = trust::NewKeyPair();
  ASSERT_TRUE(key);
  globals_.ListPublicKey = trust::HexText(key->public_key.data(), key->public_key.size());
  ASSERT_TRUE(WriteAcceptedSequence(kSequenceFileName, 6));
  const rt::Bytes entries = rt::ToBytes("a.dat#" + Sum("new") + "\r\n");
  lists_[ListUrl(kA)] = rt::ToText(trust::SignList(entries, 5, key->secret_key));  // a cache's old list
  lists_[ListUrl(kB)] = rt::ToText(trust::SignList(entries, 7, key->secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(globals_.Site.ServerBaseUrl(), kB);
  EXPECT_EQ(runs_started_, 1);
  EXPECT_EQ(ReadAcceptedSequence(kSequenceFileName), 7u);
}

TEST_F(MirrorFlow, FileMovesToTheNextMirrorOnAnyFailedTry) {
  globals_.Site.UseListMirror(kB);  // the list came from the second mirror
  EXPECT_EQ(globals_.Site.FileMirrorOrder(), std::vector<rt::Text>({kB, kA, kC}));
  globals_.PatchList = {{"x.dat", Sum("x v2")}, {"y.dat", Sum("y v2")}};
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
  globals_.PatchList = {{"x.dat", Sum("x v2")}, {"y.dat", Sum("y v2")}};
  RunPatchDownloads(flow_);
  EXPECT_EQ(requested_, std::vector<rt::Text>({kA + "patch/528/x.dat", kB + "patch/528/x.dat",
                                               kC + "patch/528/x.dat"}));
  EXPECT_EQ(Task(), kTextDownloadFailed);
  EXPECT_TRUE(programs_.empty());
  EXPECT_TRUE(ended_.empty());
}

}  // namespace

// The version check of an updater built with a list key: only a list signed
// by that key, at a sequence not below the one kept, is read; anything else
// is an unusable list and nothing is fetched.
#include "app/list_trust.h"
#include "app/remote_list.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "trust/list_keys.h"

using namespace app;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }

class SignedFlow : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    auto pair = trust::NewKeyPair();
    auto other = trust::NewKeyPair();
    ASSERT_TRUE(pair && other);
    key_ = *pair;
    other_ = *other;
    globals_.ListPublicKey = trust::HexText(key_.public_key.data(), key_.public_key.size());
    entries_ = "a.dat#" + Sum("new") + "\r\n";
  }
  rt::Text Signed(uint64_t sequence, const trust::SecretKey& key) {
    return rt::ToText(trust::SignList(rt::ToBytes(entries_), sequence, key));
  }
  void ExpectRefused(const rt::Text& what) {
    EXPECT_EQ(Task(), kTextListFailed) << what;
    EXPECT_TRUE(EnterGameDisabled()) << what;
    EXPECT_EQ(runs_started_, 0) << what;
    EXPECT_TRUE(globals_.PatchList.empty()) << what;
  }

  trust::KeyPair key_, other_;
  rt::Text entries_;
};

TEST_F(SignedFlow, RefusedListsFetchNothingAndKeepTheState) {
  Write("a.dat", "old");
  ASSERT_TRUE(WriteAcceptedSequence(kSequenceFileName, 5));
  const rt::Text good = Signed(5, key_.secret_key);
  rt::Text changed = good;
  changed[16] = 'X';  // inside the entry's path
  const rt::Text sig_line = good.substr(good.rfind("#ed25519#"));
  const rt::Text before_sig = good.substr(0, good.size() - sig_line.size());
  const std::vector<std::pair<const char*, rt::Text>> lists = {
      {"unsigned", entries_},
      {"one byte changed", changed},
      {"signed by another key", Signed(5, other_.secret_key)},
      {"signature not last", before_sig + sig_line + "b.dat#1\r\n"},
      {"lower sequence than accepted", Signed(4, key_.secret_key)},
  };
  for (const auto& [what, list] : lists) {
    SetList(list);
    CheckRemoteVersion(flow_);
    ExpectRefused(what);
    EXPECT_EQ(ReadAcceptedSequence(kSequenceFileName), 5u) << what;
  }
  EXPECT_EQ(Read("a.dat"), "old");
}

TEST_F(SignedFlow, AcceptedListRaisesTheKeptSequenceAndStartsTheRun) {
  Write("a.dat", "old");
  SetList(Signed(12, key_.secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(Task(), "有最新版本，共有1个文件需要更新。");
  ASSERT_EQ(globals_.PatchList.size(), 1u);
  EXPECT_EQ(globals_.PatchList[0].path, "a.dat");
  // The sequence and signature lines are no entries.
  EXPECT_EQ(ParseRemoteList(list_.body).entries.size(), 1u);
  EXPECT_EQ(Read(kSequenceFileName), "12\r\n");
  // The same sequence again is still accepted; the file stays as it was.
  SetList(Signed(12, key_.secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(runs_started_, 2);
  EXPECT_EQ(ReadAcceptedSequence(kSequenceFileName), 12u);
}

TEST_F(SignedFlow, AnUnusableSignedListRaisesNothing) {
  entries_ = "..\\evil.dat#1\r\n";
  SetList(Signed(3, key_.secret_key));
  CheckRemoteVersion(flow_);
  ExpectRefused("unsafe entry");
  EXPECT_FALSE(rt::FileExists(kSequenceFileName));
}

TEST_F(SignedFlow, UnsignedBuildReadsASignedListAsBefore) {
  globals_.ListPublicKey.clear();
  Write("a.dat", "new");
  SetList(Signed(3, key_.secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_FALSE(EnterGameDisabled());
  EXPECT_EQ(ParseRemoteList(list_.body).entries.size(), 1u);  // the sequence and signature lines are skipped
  EXPECT_FALSE(rt::FileExists(kSequenceFileName));
}

TEST_F(SignedFlow, KeyThatIsNotHexTrustsNothing) {
  globals_.ListPublicKey = rt::Text(64, 'z');
  SetList(Signed(1, key_.secret_key));
  CheckRemoteVersion(flow_);
  ExpectRefused("bad key");
}

TEST(SequenceFile, MissingOrDamagedReadsAsZero) {
  testsupport::TempFolder folder("seq");
  const rt::Text path = folder.Path("update.seq");
  EXPECT_EQ(ReadAcceptedSequence(path), 0u);
  for (const char* damaged : {"", "12a\r\n", "-3\r\n", "99999999999999999999\r\n"}) {
    ASSERT_TRUE(rt::WriteWholeFile(path, rt::ToBytes(rt::Text(damaged))));
    EXPECT_EQ(ReadAcceptedSequence(path), 0u) << damaged;
  }
  ASSERT_TRUE(WriteAcceptedSequence(path, 9999999999999999999ULL));
  EXPECT_EQ(ReadAcceptedSequence(path), 9999999999999999999ULL);
}

}  // namespace

// The version check of an updater built with a list key: only a list signed
// by that key, at a sequence not below the one kept, is read; anything else
// is an unusable list and nothing is fetched.
#include "app/check/list_trust.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "list/file_list.h"
#include "trust/list_keys.h"
#include "trust/sha256.h"

using namespace app;

namespace {

rt::Text Sum(const rt::Text& content) { return rt::ToText(checksum::FileChecksum(rt::ToBytes(content))); }

// An entry line and, for the signed form, its hash line.
rt::Text EntryLines(const rt::Text& path, const rt::Text& content) {
  const rt::Bytes bytes = rt::ToBytes(content);
  const list::FileDigest digest{static_cast<int64_t>(bytes.size()), trust::Sha256Of(bytes.data(), bytes.size())};
  return path + "#" + Sum(content) + "\r\n" + list::HashLine(digest) + "\r\n";
}

size_t PlainEntries(const rt::Bytes& body) {
  return list::ParseFileList(body, list::HashLines::kSkipped).entries.size();
}

class SignedFlow : public FlowTest {
 protected:
  void SetUp() override {
    FlowTest::SetUp();
    auto pair = trust::NewKeyPair();
    auto other = trust::NewKeyPair();
    ASSERT_TRUE(pair && other);
    key_ = *pair;
    other_ = *other;
    state_.ListPublicKey = trust::HexText(key_.public_key.data(), key_.public_key.size());
    entries_ = EntryLines("a.dat", "new");
  }
  rt::Text Signed(uint64_t sequence, const trust::SecretKey& key, std::optional<int64_t> expires = std::nullopt) {
    return rt::ToText(trust::SignList(rt::ToBytes(entries_), sequence, key, expires));
  }
  rt::Text KeyHex(const trust::KeyPair& pair) { return trust::HexText(pair.public_key.data(), pair.public_key.size()); }
  rt::Text UserSequence() { return user_values_[UserSequenceKey(key_.public_key) + "|" + kUserSequenceName]; }
  // `runs`: the runs started before (their patch lists stay).
  void ExpectRefused(const rt::Text& what, int runs = 0) {
    EXPECT_EQ(Task(), kTextListFailed) << what;
    EXPECT_TRUE(EnterGameDisabled()) << what;
    EXPECT_EQ(runs_started_, runs) << what;
    if (runs == 0) EXPECT_TRUE(state_.PatchList.empty()) << what;
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
      {"the hash line dropped", rt::ToText(trust::SignList(rt::ToBytes("a.dat#" + Sum("new") + "\r\n"), 5,
                                                           key_.secret_key))},
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
  ASSERT_EQ(state_.PatchList.size(), 1u);
  EXPECT_EQ(state_.PatchList[0].path, "a.dat");
  // The sequence and signature lines are no entries.
  EXPECT_EQ(PlainEntries(list_.body), 1u);
  ASSERT_TRUE(state_.PatchList[0].digest);  // the run checks the file's size and SHA-256
  EXPECT_EQ(state_.PatchList[0].digest->size, 3);
  EXPECT_EQ(Read(kSequenceFileName), "12\r\n");
  EXPECT_EQ(UserSequence(), "12");
  EXPECT_FALSE(rt::FileExists(rt::Text(kSequenceFileName) + list::kPartialSuffix));
  // The same sequence again is still accepted; the file stays as it was.
  SetList(Signed(12, key_.secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(runs_started_, 2);
  EXPECT_EQ(ReadAcceptedSequence(kSequenceFileName), 12u);
}

TEST_F(SignedFlow, AnUnusableSignedListRaisesNothing) {
  entries_ = EntryLines("..\\evil.dat", "x");
  SetList(Signed(3, key_.secret_key));
  CheckRemoteVersion(flow_);
  ExpectRefused("unsafe entry");
  EXPECT_FALSE(rt::FileExists(kSequenceFileName));
}

TEST_F(SignedFlow, UnsignedBuildReadsASignedListAsBefore) {
  state_.ListPublicKey.clear();
  Write("a.dat", "new");
  SetList(Signed(3, key_.secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(Task(), kTextUpToDate);
  EXPECT_FALSE(EnterGameDisabled());
  EXPECT_EQ(PlainEntries(list_.body), 1u);  // the sequence, hash and signature lines are skipped
  EXPECT_FALSE(rt::FileExists(kSequenceFileName));
}

TEST_F(SignedFlow, KeyThatIsNotHexTrustsNothing) {
  state_.ListPublicKey = rt::Text(64, 'z');
  SetList(Signed(1, key_.secret_key));
  CheckRemoteVersion(flow_);
  ExpectRefused("bad key");
}

TEST_F(SignedFlow, UserCopyStillRefusesAnOlderListWhenUpdateSeqIsGone) {
  Write("a.dat", "old");
  SetList(Signed(7, key_.secret_key));
  CheckRemoteVersion(flow_);
  ASSERT_EQ(runs_started_, 1);
  ASSERT_EQ(UserSequence(), "7");
  ASSERT_TRUE(rt::RemoveFile(kSequenceFileName));
  SetList(Signed(2, key_.secret_key));  // validly signed, older
  CheckRemoteVersion(flow_);
  ExpectRefused("older list with update.seq deleted", 1);
  // The larger of the two places counts, either way round.
  ASSERT_TRUE(WriteAcceptedSequence(kSequenceFileName, 9));
  SetList(Signed(8, key_.secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(runs_started_, 1);
  SetList(Signed(9, key_.secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(runs_started_, 2);
  EXPECT_EQ(UserSequence(), "9");  // raised to the file's
}

TEST_F(SignedFlow, ExpiredListIsRefusedWithAPlayerClockADayOffEitherWay) {
  Write("a.dat", "old");
  const int64_t expires = today_;  // the list's last day
  struct Case {
    int64_t clock;  // the player's day
    bool taken;
  } const cases[] = {
      {expires - 1, true}, {expires, true},
      {expires + 1, true},   // a clock a day ahead: still taken
      {expires + 2, false},  // past the day of grace
      {expires + 400, false},
  };
  for (const Case& c : cases) {
    today_ = c.clock;
    log_.clear();
    const int before = runs_started_;
    SetList(Signed(1, key_.secret_key, expires));
    CheckRemoteVersion(flow_);
    EXPECT_EQ(runs_started_ - before, c.taken ? 1 : 0) << c.clock - expires;
    if (!c.taken) {
      EXPECT_EQ(Task(), kTextListFailed);
      const rt::Text reason = "list refused: the list has expired (" + trust::DateText(expires) + ")";
      EXPECT_NE(std::find(log_.begin(), log_.end(), reason), log_.end()) << c.clock - expires;
    }
  }
}

TEST_F(SignedFlow, AListSignedByTheSecondOfTwoKeysIsTaken) {
  Write("a.dat", "old");
  state_.ListPublicKey = KeyHex(other_) + ";" + KeyHex(key_);
  SetList(Signed(3, key_.secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(runs_started_, 1);
  SetList(Signed(3, other_.secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(runs_started_, 2);
  // Each key of the build keeps the sequence in its own user-wide place, so a
  // later build with only the second key still knows it.
  EXPECT_EQ(user_values_[UserSequenceKey(other_.public_key) + "|" + kUserSequenceName], "3");
  state_.ListPublicKey = " " + KeyHex(key_) + " ;";
  SetList(Signed(2, key_.secret_key));
  CheckRemoteVersion(flow_);
  ExpectRefused("older than what the first key's build took", 2);
  auto third = trust::NewKeyPair();
  ASSERT_TRUE(third);
  SetList(Signed(4, third->secret_key));
  CheckRemoteVersion(flow_);
  ExpectRefused("a key not in the build", 2);
}

TEST(CheckList, HashAndFormLineFaultsHaveTheirVerdicts) {
  auto pair = trust::NewKeyPair();
  ASSERT_TRUE(pair);
  ListKeys keys;
  keys.signed_lists = true;
  keys.keys = {pair->public_key};
  const rt::Text entry = "a.dat#" + Sum("new") + "\r\n";
  const rt::Text hash = EntryLines("a.dat", "new").substr(entry.size());
  const rt::Text form = "#form#zstd#3#12#" + rt::Text(64, 'c') + "#patch/forms/c.zst\r\n";
  struct Case {
    const char* what;
    rt::Text entries;
    trust::ListVerdict verdict;
  } const cases[] = {
      {"hash line missing", entry, trust::ListVerdict::kMissingFileHash},
      {"hash line doubled", entry + hash + hash, trust::ListVerdict::kRepeatedFileHash},
      {"hash line malformed", entry + "#sha256#3#xyz\r\n", trust::ListVerdict::kMalformedFileHash},
      {"hash line astray", hash + entry + hash, trust::ListVerdict::kStrayFileHash},
      {"form line malformed", entry + hash + "#form#zstd#3#12#xyz#patch/forms/c.zst\r\n",
       trust::ListVerdict::kMalformedFileForm},
      {"form for another size", entry + hash + "#form#zstd#4#12#" + rt::Text(64, 'c') + "#patch/forms/c.zst\r\n",
       trust::ListVerdict::kMalformedFileForm},
      {"form line doubled", entry + hash + form + form, trust::ListVerdict::kRepeatedFileForm},
      {"form line before the hash line", entry + form + hash, trust::ListVerdict::kMissingFileHash},
      {"form line astray", form + entry + hash, trust::ListVerdict::kStrayFileForm},
      {"all well", entry + hash, trust::ListVerdict::kAccepted},
      {"all well with a form", entry + hash + form, trust::ListVerdict::kAccepted},
  };
  for (const Case& c : cases) {
    const CheckedList checked =
        CheckList(trust::SignList(rt::ToBytes(c.entries), 1, pair->secret_key), keys, 0, 19875);
    EXPECT_EQ(checked.verdict, c.verdict) << c.what;
    EXPECT_EQ(checked.usable(), c.verdict == trust::ListVerdict::kAccepted) << c.what;
    EXPECT_NE(rt::Text(trust::ToString(c.verdict)), "unknown");
  }
  // The signature covers the form lines: another name for the form breaks it.
  rt::Text tampered = rt::ToText(trust::SignList(rt::ToBytes(entry + hash + form), 1, pair->secret_key));
  tampered.replace(tampered.find("forms/c.zst"), 11, "forms/d.zst");
  EXPECT_EQ(CheckList(rt::ToBytes(tampered), keys, 0, 19875).verdict, trust::ListVerdict::kBadSignature);
}

TEST(SequenceFile, MissingOrDamagedReadsAsZero) {
  testsupport::TempFolder folder("seq");
  const rt::Text path = folder.Path(kSequenceFileName);
  EXPECT_EQ(ReadAcceptedSequence(path), 0u);
  for (const char* damaged : {"", "12a\r\n", "-3\r\n", "99999999999999999999\r\n"}) {
    ASSERT_TRUE(rt::WriteWholeFile(path, rt::ToBytes(rt::Text(damaged))));
    EXPECT_EQ(ReadAcceptedSequence(path), 0u) << damaged;
  }
  ASSERT_TRUE(WriteAcceptedSequence(path, 9999999999999999999ULL));
  EXPECT_EQ(ReadAcceptedSequence(path), 9999999999999999999ULL);
  // Written beside its place and replaced in one step: nothing left over, and
  // a target that cannot be replaced keeps its old content.
  EXPECT_FALSE(rt::FileExists(path + list::kPartialSuffix));
  rt::CreateFolderTree(folder.Path("a folder"));
  EXPECT_FALSE(WriteAcceptedSequence(folder.Path("a folder"), 5));
  EXPECT_FALSE(rt::FileExists(folder.Path("a folder") + list::kPartialSuffix));
}

}  // namespace

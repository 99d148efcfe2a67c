// The version check of an updater built with a list key: only a list signed
// by that key, at a sequence not below the one kept, is read; anything else
// is an unusable list and nothing is fetched.
#include <map>

#include "app/check/list_trust.h"
#include "checksum/file_checksum.h"
#include "flow_fixture.h"
#include "list/file_list.h"
#include "runtime/text.h"
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
    state_.ListPublicKey = rt::LowerHexOf(key_.public_key.data(), key_.public_key.size());
    entries_ = EntryLines("a.dat", "new");
  }
  rt::Text Signed(uint64_t sequence, const trust::SecretKey& key, std::optional<int64_t> expires = std::nullopt,
                  const rt::Text& product = "528") {
    return rt::ToText(trust::SignList(rt::ToBytes(entries_), sequence, key, expires, product));
  }
  rt::Text KeyHex(const trust::KeyPair& pair) { return rt::LowerHexOf(pair.public_key.data(), pair.public_key.size()); }
  rt::Text UserSequence(const rt::Text& product = "528") {
    return user_values_[UserSequenceKey(key_.public_key, product) + "|" + kUserSequenceName];
  }
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
  ASSERT_TRUE(WriteAcceptedSequence(kSequenceFileName, 5, "528"));
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
      {"another product's", Signed(6, key_.secret_key, std::nullopt, "game-b")},
      {"no product line", Signed(6, key_.secret_key, std::nullopt, "")},
      {"the hash line dropped", rt::ToText(trust::SignList(rt::ToBytes("a.dat#" + Sum("new") + "\r\n"), 5,
                                                           key_.secret_key, std::nullopt, "528"))},
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
  EXPECT_EQ(state_.PatchList[0].entry.path, "a.dat");
  // The sequence and signature lines are no entries.
  EXPECT_EQ(PlainEntries(list_.body), 1u);
  ASSERT_TRUE(state_.PatchList[0].entry.digest);  // the run checks the file's size and SHA-256
  EXPECT_EQ(state_.PatchList[0].entry.digest->size, 3);
  EXPECT_EQ(Read(kSequenceFileName), "12\r\n528\r\n");
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
  ASSERT_TRUE(WriteAcceptedSequence(kSequenceFileName, 9, "528"));
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
      // The label names the clock, the likely cause, and the log its date.
      EXPECT_EQ(Task(), kTextListExpired);
      const rt::Text reason = "list refused: the list has expired (" + trust::DateText(expires) + ")";
      EXPECT_NE(std::find(log_.begin(), log_.end(), reason), log_.end()) << c.clock - expires;
      const rt::Text clock = "list unusable: expired by this computer's clock, which says " +
                             trust::DateText(c.clock) + " (UTC); is it ahead?";
      EXPECT_NE(std::find(log_.begin(), log_.end(), clock), log_.end()) << c.clock - expires;
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
  EXPECT_EQ(user_values_[UserSequenceKey(other_.public_key, "528") + "|" + kUserSequenceName], "3");
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

// Two games signed with one key, each updater with its own product: game A's
// sequence never blocks game B's first release, and B's list, however high,
// is never taken by A.
TEST_F(SignedFlow, TwoProductsOfOneKeyKeepTheirOwnSequences) {
  Write("a.dat", "old");
  SetList(Signed(12, key_.secret_key));  // game A (product 528) at 12
  CheckRemoteVersion(flow_);
  ASSERT_EQ(runs_started_, 1);
  // Game B's updater in a new folder of its own: its first release, at 1.
  ASSERT_TRUE(rt::RemoveFile(kSequenceFileName));
  state_.ListProduct = "game-b";
  SetList(Signed(1, key_.secret_key, std::nullopt, "game-b"));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(runs_started_, 2);
  EXPECT_EQ(UserSequence("game-b"), "1");
  EXPECT_EQ(UserSequence("528"), "12");
  // B's list re-signed at 20 and served to A: refused, with its reason.
  state_.ListProduct = "528";
  ASSERT_TRUE(WriteAcceptedSequence(kSequenceFileName, 12, "528"));
  log_.clear();
  SetList(Signed(20, key_.secret_key, std::nullopt, "game-b"));
  CheckRemoteVersion(flow_);
  ExpectRefused("B's list for A", 2);
  const rt::Text reason = "list refused: the list is for another product (game-b, this updater's is 528)";
  EXPECT_NE(std::find(log_.begin(), log_.end(), reason), log_.end());
  // A's own next release still comes.
  SetList(Signed(13, key_.secret_key));
  CheckRemoteVersion(flow_);
  EXPECT_EQ(runs_started_, 3);
  EXPECT_EQ(Read(kSequenceFileName), "13\r\n528\r\n");
}

// An upgrade from an updater before products: its per-key number counts only
// in a folder whose update.seq it wrote (no product line), and no longer once
// this updater has written update.seq.
TEST(SequenceKeeper, TheOldPerKeyNumberCountsWhereTheFolderIsFromBeforeProducts) {
  testsupport::TempFolder folder("keeper");
  const rt::Text path = folder.Path(kSequenceFileName);
  const trust::PublicKey key{};
  ListKeys keys;
  keys.signed_lists = true;
  keys.keys = {key};
  keys.product = "528";
  struct Case {
    const char* what;
    const char* file;  // update.seq; nullptr: none
    const char* old_value;  // the per-key value; nullptr: none
    const char* product_value;
    uint64_t highest;
  } const cases[] = {
      {"an upgrade: the old number over the folder's", "7\r\n", "9", nullptr, 9},
      {"an upgrade: the folder's over the old", "11\r\n", "9", nullptr, 11},
      {"another game's new folder: the old number is not its own", nullptr, "9", nullptr, 0},
      {"written by this updater: the old number no longer counts", "3\r\n528\r\n", "9", nullptr, 3},
      {"another product's file counts nothing", "20\r\ngame-b\r\n", "9", "4", 4},
      {"the product's place over the file", "3\r\n528\r\n", nullptr, "8", 8},
  };
  for (const Case& c : cases) {
    rt::RemoveFile(path);
    if (c.file) ASSERT_TRUE(rt::WriteWholeFile(path, rt::ToBytes(rt::Text(c.file))));
    std::map<rt::Text, rt::Text> values;
    if (c.old_value) values[UserSequenceKey(key)] = c.old_value;
    if (c.product_value) values[UserSequenceKey(key, "528")] = c.product_value;
    const SequenceKeeper keeper(
        path, keys,
        [&values](const rt::Text& k, const rt::Text&) -> std::optional<rt::Text> {
          const auto it = values.find(k);
          return it == values.end() ? std::nullopt : std::optional<rt::Text>(it->second);
        },
        [&values](const rt::Text& k, const rt::Text&, const rt::Text& v) { return (values[k] = v, true); });
    EXPECT_EQ(keeper.Highest(), c.highest) << c.what;
    keeper.Keep(c.highest + 1);
    EXPECT_EQ(rt::ToText(rt::ReadWholeFile(path)), rt::ToText(static_cast<int64_t>(c.highest + 1)) + "\r\n528\r\n")
        << c.what;
    EXPECT_EQ(values[UserSequenceKey(key, "528")], rt::ToText(static_cast<int64_t>(c.highest + 1))) << c.what;
    EXPECT_EQ(values.count(UserSequenceKey(key)), c.old_value ? 1u : 0u) << c.what << ": the old place is left as it was";
  }
}

TEST(CheckList, HashAndFormLineFaultsHaveTheirVerdicts) {
  auto pair = trust::NewKeyPair();
  ASSERT_TRUE(pair);
  ListKeys keys;
  keys.signed_lists = true;
  keys.keys = {pair->public_key};
  keys.product = "528";
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
        CheckList(trust::SignList(rt::ToBytes(c.entries), 1, pair->secret_key, std::nullopt, "528"), keys, 0, 19875);
    EXPECT_EQ(checked.verdict, c.verdict) << c.what;
    EXPECT_EQ(checked.usable(), c.verdict == trust::ListVerdict::kAccepted) << c.what;
    EXPECT_NE(rt::Text(trust::ToString(c.verdict)), "unknown");
  }
  // The signature covers the form lines: another name for the form breaks it.
  rt::Text tampered = rt::ToText(trust::SignList(rt::ToBytes(entry + hash + form), 1, pair->secret_key, std::nullopt, "528"));
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
  ASSERT_TRUE(WriteAcceptedSequence(path, 9999999999999999999ULL, "game-b"));
  EXPECT_EQ(ReadAcceptedSequence(path), 9999999999999999999ULL);
  EXPECT_EQ(ReadSequenceFile(path).product, "game-b");
  // Written beside its place and replaced in one step: nothing left over, and
  // a target that cannot be replaced keeps its old content.
  EXPECT_FALSE(rt::FileExists(path + list::kPartialSuffix));
  rt::CreateFolderTree(folder.Path("a folder"));
  EXPECT_FALSE(WriteAcceptedSequence(folder.Path("a folder"), 5, "528"));
  EXPECT_FALSE(rt::FileExists(folder.Path("a folder") + list::kPartialSuffix));
}

}  // namespace

// The signed list: what the check refuses (every way a list can be altered,
// replayed or mis-signed), what it accepts, and the key files of patchtool.
#include <gtest/gtest.h>
#include <sodium.h>

#include <string>

#include "runtime/text.h"
#include "trust/list_keys.h"
#include "trust/signed_list.h"

using trust::ListVerdict;

namespace {

rt::Bytes B(const std::string& s) { return rt::Bytes(s.begin(), s.end()); }
std::string S(const rt::Bytes& b) { return std::string(b.begin(), b.end()); }

// Signs arbitrary bytes the way a list is signed, for lists SignList would
// never write (no sequence, two sequences, a bad number).
std::string SignedRaw(const std::string& before, const trust::SecretKey& key) {
  std::uint8_t signature[trust::kSignatureBytes];
  crypto_sign_detached(signature, nullptr, reinterpret_cast<const std::uint8_t*>(before.data()), before.size(),
                       key.data());
  return before + "#ed25519#" + rt::LowerHexOf(signature, sizeof signature) + "\r\n";
}

class SignedList : public ::testing::Test {
 protected:
  void SetUp() override {
    auto pair = trust::NewKeyPair();
    auto other = trust::NewKeyPair();
    ASSERT_TRUE(pair && other);
    key_ = *pair;
    other_ = *other;
    signed_ = S(trust::SignList(B(kEntries), 7, key_.secret_key));
  }
  ListVerdict Check(const std::string& list, std::uint64_t lowest = 0) {
    return trust::CheckSignedList(B(list), key_.public_key, lowest).verdict;
  }

  static constexpr const char* kEntries = "a.dat#123\r\n\xca\xfd\xbe\xdd\\b.dat#-45\r\n";
  trust::KeyPair key_, other_;
  std::string signed_;
};

TEST_F(SignedList, RefusesEveryAlteredOrMisplacedSignature) {
  const std::string sig_line = signed_.substr(signed_.rfind("#ed25519#"));
  const std::string before = signed_.substr(0, signed_.size() - sig_line.size());
  std::string by_other = S(trust::SignList(B(kEntries), 7, other_.secret_key));
  struct Case {
    const char* what;
    std::string list;
    ListVerdict verdict;
  };
  std::vector<Case> cases = {
      {"empty", "", ListVerdict::kNoSignature},
      {"unsigned", kEntries, ListVerdict::kNoSignature},
      {"signature line not last", before + sig_line + "c.dat#1\r\n", ListVerdict::kSignatureNotLast},
      {"a blank line after the signature", signed_ + "\r\n", ListVerdict::kSignatureNotLast},
      {"signature without its line end", signed_.substr(0, signed_.size() - 2), ListVerdict::kMalformedSignature},
      {"signature one digit short", before + sig_line.substr(0, sig_line.size() - 3) + "\r\n",
       ListVerdict::kMalformedSignature},
      {"signature with a non-hex digit", before + "#ed25519#" + std::string(127, 'a') + "g\r\n",
       ListVerdict::kMalformedSignature},
      {"signed by another key", by_other, ListVerdict::kBadSignature},
      {"an entry line dropped", "#sequence#7\r\na.dat#123\r\n" + sig_line, ListVerdict::kBadSignature},
      {"a line end dropped before the signature", before.substr(0, before.size() - 2) + sig_line,
       ListVerdict::kNoSignature},
      {"no sequence line", SignedRaw(kEntries, key_.secret_key), ListVerdict::kNoSequence},
      {"two sequence lines", SignedRaw("#sequence#7\r\n#sequence#9\r\n" + std::string(kEntries), key_.secret_key),
       ListVerdict::kMalformedSequence},
      {"a sequence that is no number", SignedRaw("#sequence#-1\r\n", key_.secret_key),
       ListVerdict::kMalformedSequence},
      {"a sequence of 20 digits", SignedRaw("#sequence#18446744073709551615\r\n", key_.secret_key),
       ListVerdict::kMalformedSequence},
  };
  // One byte changed anywhere before the signature line: in the sequence, in
  // a path, in a checksum, in a line end between entries. (Changing the line
  // end just before the signature joins it to the entry: no signature line.)
  for (size_t at : {size_t(10), size_t(14), size_t(23), before.size() - 3}) {
    std::string changed = signed_;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    cases.push_back({"one byte changed", changed, ListVerdict::kBadSignature});
  }
  // One bit of the signature itself.
  std::string flipped = signed_;
  flipped[before.size() + 20] = flipped[before.size() + 20] == '0' ? '1' : '0';
  cases.push_back({"signature digit changed", flipped, ListVerdict::kBadSignature});

  for (const Case& c : cases) EXPECT_EQ(Check(c.list), c.verdict) << c.what;
}

TEST_F(SignedList, SequenceMayRepeatButNeverGoBack) {
  EXPECT_EQ(Check(signed_, 8), ListVerdict::kOlderSequence);
  EXPECT_EQ(Check(signed_, 7), ListVerdict::kAccepted);
  const trust::ListCheck check = trust::CheckSignedList(B(signed_), key_.public_key, 0);
  EXPECT_EQ(check.verdict, ListVerdict::kAccepted);
  EXPECT_EQ(check.sequence, 7u);
  // The signed bytes are everything before the signature line.
  EXPECT_EQ(signed_.substr(check.signed_size, 9), "#ed25519#");
  EXPECT_EQ(signed_.size() - check.signed_size, 9u + 128u + 2u);
  const std::string highest = SignedRaw("#sequence#9999999999999999999\r\n", key_.secret_key);
  EXPECT_EQ(Check(highest, trust::kMaxSequence), ListVerdict::kAccepted);
}

TEST_F(SignedList, SignedFormKeepsTheEntriesAndAddsThreeFieldLines) {
  EXPECT_EQ(signed_.substr(0, 13), "#sequence#7\r\n");
  EXPECT_EQ(signed_.substr(13, std::string(kEntries).size()), kEntries);
  EXPECT_EQ(S(trust::StripSignatureLines(B(signed_))), kEntries);
  EXPECT_EQ(trust::ListSequence(B(signed_)), std::optional<std::uint64_t>(7));
  EXPECT_FALSE(trust::ListSequence(B(kEntries)));
  // Re-signing a signed list replaces its lines instead of stacking them.
  const std::string again = S(trust::SignList(B(signed_), 8, key_.secret_key));
  EXPECT_EQ(S(trust::StripSignatureLines(B(again))), kEntries);
  EXPECT_EQ(Check(again, 8), ListVerdict::kAccepted);
  // A last entry without its line end gets one, so the signature stays a line of its own.
  const std::string open = S(trust::SignList(B("a.dat#1"), 1, key_.secret_key));
  EXPECT_EQ(open.substr(0, 22), "#sequence#1\r\na.dat#1\r\n");
  EXPECT_EQ(Check(open), ListVerdict::kAccepted);
}

TEST(ListKeys, PublicKeyTextIsExactly64HexDigits) {
  const std::string hex(64, 'a');
  EXPECT_FALSE(trust::ParsePublicKey(""));
  EXPECT_FALSE(trust::ParsePublicKey(hex.substr(1)));
  EXPECT_FALSE(trust::ParsePublicKey(hex + "a"));
  EXPECT_FALSE(trust::ParsePublicKey(hex.substr(1) + "x"));
  EXPECT_FALSE(trust::ParsePublicKey(" " + hex.substr(1)));
  auto key = trust::ParsePublicKey("00FF" + std::string(60, '0'));
  ASSERT_TRUE(key);
  EXPECT_EQ((*key)[0], 0x00);
  EXPECT_EQ((*key)[1], 0xFF);
  EXPECT_EQ(rt::LowerHexOf(key->data(), key->size()), "00ff" + std::string(60, '0'));
}

TEST(ListKeys, SecretKeyFileRoundTripsAndRefusesDamage) {
  auto pair = trust::NewKeyPair();
  ASSERT_TRUE(pair);
  const rt::Text text = trust::SecretKeyFileText(pair->secret_key);
  EXPECT_EQ(text.size(), 129u);
  auto back = trust::ParseSecretKeyFile(B(text));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, pair->secret_key);
  EXPECT_EQ(trust::PublicKeyOf(*back), pair->public_key);
  EXPECT_TRUE(trust::ParseSecretKeyFile(B(text.substr(0, 128) + "\r\n")));  // edited on Windows
  // The public half no longer belongs to the seed.
  rt::Text damaged = text;
  damaged[100] = damaged[100] == '0' ? '1' : '0';
  EXPECT_FALSE(trust::ParseSecretKeyFile(B(damaged)));
  EXPECT_FALSE(trust::ParseSecretKeyFile(B(text.substr(0, 127))));
  EXPECT_FALSE(trust::ParseSecretKeyFile(B("")));
}

}  // namespace

namespace {

TEST(ListDates, ParseAndWriteUtcDays) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> day;
  } const cases[] = {
      {"1970-01-01", 0},           {"2024-06-01", 19875},       {"2024-02-29", 19782},
      {"2000-02-29", 11016},       {"9999-12-31", 2932896},     {"2023-02-29", std::nullopt},
      {"1900-02-29", std::nullopt}, {"1969-12-31", std::nullopt}, {"2024-13-01", std::nullopt},
      {"2024-00-10", std::nullopt}, {"2024-04-31", std::nullopt}, {"2024-1-01", std::nullopt},
      {"20240101", std::nullopt},   {"2024-01-01 ", std::nullopt}, {"2024/01/01", std::nullopt},
      {"", std::nullopt},           {"+024-01-01", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trust::ParseDate(c.text), c.day) << c.text;
    if (c.day) EXPECT_EQ(trust::DateText(*c.day), c.text);
  }
}

TEST(ListKeys, SeveralKeysSeparatedBySemicolons) {
  const std::string a(64, 'a'), b(64, 'B');
  EXPECT_EQ(trust::ParsePublicKeys(a)->size(), 1u);
  EXPECT_EQ(trust::ParsePublicKeys(a + ";" + b)->size(), 2u);
  EXPECT_EQ(trust::ParsePublicKeys(" " + a + " ; " + b + " ;")->size(), 2u);
  EXPECT_FALSE(trust::ParsePublicKeys(""));
  EXPECT_FALSE(trust::ParsePublicKeys(";"));
  EXPECT_FALSE(trust::ParsePublicKeys(a + ";" + b.substr(1)));
  EXPECT_FALSE(trust::ParsePublicKeys(a + "," + b));
}

TEST_F(SignedList, ExpiryIsSignedAndToleratesADay) {
  const std::int64_t day = 19875;
  const std::string expiring = S(trust::SignList(B(kEntries), 7, key_.secret_key, day));
  EXPECT_EQ(expiring.substr(0, 34), "#sequence#7\r\n#expires#2024-06-01\r\n");
  EXPECT_EQ(S(trust::StripSignatureLines(B(expiring))), kEntries);
  EXPECT_EQ(trust::ListExpiry(B(expiring)), std::optional<std::int64_t>(day));
  auto check = [&](const std::string& list, std::optional<std::int64_t> today) {
    trust::ListCheckOptions options;
    options.today = today;
    return trust::CheckSignedList(B(list), std::vector<trust::PublicKey>{key_.public_key}, options).verdict;
  };
  EXPECT_EQ(check(expiring, day - 30), ListVerdict::kAccepted);
  EXPECT_EQ(check(expiring, day), ListVerdict::kAccepted);
  EXPECT_EQ(check(expiring, day + 1), ListVerdict::kAccepted);
  EXPECT_EQ(check(expiring, day + 2), ListVerdict::kExpired);
  EXPECT_EQ(check(expiring, std::nullopt), ListVerdict::kAccepted);  // no clock: no expiry check
  EXPECT_EQ(check(signed_, day + 100000), ListVerdict::kAccepted);   // no line: never expires
  // The line is signed: changing the date breaks the signature.
  std::string later = expiring;
  later[31] = '9';
  EXPECT_EQ(check(later, day), ListVerdict::kBadSignature);
  EXPECT_EQ(check(SignedRaw("#sequence#1\r\n#expires#2024-02-30\r\n", key_.secret_key), day),
            ListVerdict::kMalformedExpiry);
  EXPECT_EQ(check(SignedRaw("#sequence#1\r\n#expires#2024-06-01\r\n#expires#2024-06-09\r\n", key_.secret_key), day),
            ListVerdict::kMalformedExpiry);
  // Any key of several.
  trust::ListCheckOptions options;
  const trust::ListCheck by_second =
      trust::CheckSignedList(B(signed_), std::vector<trust::PublicKey>{other_.public_key, key_.public_key}, options);
  EXPECT_EQ(by_second.verdict, ListVerdict::kAccepted);
  EXPECT_EQ(trust::CheckSignedList(B(signed_), std::vector<trust::PublicKey>{other_.public_key}, options).verdict,
            ListVerdict::kBadSignature);
  EXPECT_EQ(trust::CheckSignedList(B(signed_), std::vector<trust::PublicKey>{}, options).verdict,
            ListVerdict::kBadSignature);
}

// The product line: signed, one at most, a name of the allowed form; an
// updater with a product takes only its own. The line has three "#" fields,
// so the plain reader and the signed reader of the entries skip it as they
// skip the sequence line (the list tests read it with both).
TEST_F(SignedList, ProductLineBindsTheListToOneProduct) {
  const std::string game_a = S(trust::SignList(B(kEntries), 7, key_.secret_key, std::nullopt, "game-a"));
  EXPECT_EQ(game_a.substr(0, 30), "#sequence#7\r\n#product#game-a\r\n");
  EXPECT_EQ(S(trust::StripSignatureLines(B(game_a))), kEntries);
  EXPECT_EQ(trust::ListProduct(B(game_a)), "game-a");
  auto check = [&](const std::string& list, std::optional<rt::Text> product, std::uint64_t lowest = 0) {
    trust::ListCheckOptions options;
    options.product = product;
    options.lowest_sequence = lowest;
    return trust::CheckSignedList(B(list), std::vector<trust::PublicKey>{key_.public_key}, options).verdict;
  };
  struct Case {
    const char* what;
    std::string list;
    std::optional<rt::Text> product;
    ListVerdict verdict;
  } const cases[] = {
      {"its own product", game_a, "game-a", ListVerdict::kAccepted},
      {"another product", game_a, "game-b", ListVerdict::kOtherProduct},
      {"a prefix of the name is another", game_a, "game", ListVerdict::kOtherProduct},
      {"no product line", signed_, "game-a", ListVerdict::kNoProduct},
      {"no product asked (patchtool verify)", game_a, std::nullopt, ListVerdict::kAccepted},
      {"two lines", SignedRaw("#sequence#1\r\n#product#a\r\n#product#a\r\n", key_.secret_key), "a",
       ListVerdict::kMalformedProduct},
      {"an empty name", SignedRaw("#sequence#1\r\n#product#\r\n", key_.secret_key), "a",
       ListVerdict::kMalformedProduct},
      {"upper case", SignedRaw("#sequence#1\r\n#product#Game\r\n", key_.secret_key), "game",
       ListVerdict::kMalformedProduct},
  };
  for (const Case& c : cases) EXPECT_EQ(check(c.list, c.product), c.verdict) << c.what;
  // The product decides before the sequence: another product's is refused as
  // such, whatever its number.
  EXPECT_EQ(check(game_a, "game-b", 100), ListVerdict::kOtherProduct);
  EXPECT_EQ(check(game_a, "game-a", 100), ListVerdict::kOlderSequence);
  // The line is signed.
  std::string renamed = game_a;
  renamed[23] = 'b';
  EXPECT_EQ(check(renamed, "game-b"), ListVerdict::kBadSignature);
}

TEST(ProductName, AllowedForm) {
  EXPECT_TRUE(trust::IsProductName("528"));
  EXPECT_TRUE(trust::IsProductName("game-b_beta.2"));
  EXPECT_TRUE(trust::IsProductName(std::string(trust::kMaxProductLength, 'a')));
  for (const char* bad : {"", "Game", "a#b", "a b", "a\\b", "\xca\xfd"}) EXPECT_FALSE(trust::IsProductName(bad)) << bad;
  EXPECT_FALSE(trust::IsProductName(std::string(trust::kMaxProductLength + 1, 'a')));
}

}  // namespace

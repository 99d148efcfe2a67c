// The check of a downloaded file fed as it arrives: whole, in pieces, and
// after a restart from byte 0; and what each mismatch says.
#include <gtest/gtest.h>

#include "app/run/file_verifier.h"
#include "checksum/file_checksum.h"
#include "runtime/convert.h"
#include "runtime/text.h"
#include "trust/sha256.h"
#include "trust/signed_list.h"

using namespace app;

namespace {

rt::Bytes B(const std::string& s) { return rt::Bytes(s.begin(), s.end()); }

list::PatchEntry SignedEntry(const rt::Bytes& content) {
  list::PatchEntry entry{"a.dat", rt::ToText(checksum::FileChecksum(content)), list::FileDigest{}};
  entry.digest->size = static_cast<int64_t>(content.size());
  entry.digest->sha256 = trust::Sha256Of(content.data(), content.size());
  return entry;
}

// The same length and 32-bit checksum, other bytes: byte k raised by 31 and
// byte k+1 lowered by 1 leave the linear sum as it was.
rt::Bytes Forged(rt::Bytes bytes, size_t k) {
  bytes[k] = static_cast<std::uint8_t>(bytes[k] + 31);
  bytes[k + 1] = static_cast<std::uint8_t>(bytes[k + 1] - 1);
  return bytes;
}

const rt::Bytes kContent = B("the quick brown fox jumps over the lazy dog, twice over");

}  // namespace

TEST(FileVerifier, Sha256MatchesKnownValues) {
  const trust::Sha256Digest abc = trust::Sha256Of(B("abc").data(), 3);
  EXPECT_EQ(rt::LowerHexOf(abc.data(), abc.size()),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  trust::Sha256 pieces;  // fed in pieces, the same digest; Final starts over
  pieces.Update(B("a").data(), 1);
  pieces.Update(nullptr, 0);
  pieces.Update(B("bc").data(), 2);
  EXPECT_EQ(pieces.Final(), abc);
  const trust::Sha256Digest empty = pieces.Final();
  EXPECT_EQ(rt::LowerHexOf(empty.data(), empty.size()),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(FileVerifier, AcceptsTheFileHoweverItsBytesArrive) {
  const list::PatchEntry entry = SignedEntry(kContent);
  FileVerifier verifier(entry);
  verifier.Take(kContent);
  EXPECT_TRUE(verifier.Finish().ok);
  // Finish starts over: the same bytes in uneven pieces.
  for (size_t at = 0; at < kContent.size(); at += 7) {
    verifier.Take(kContent.data() + at, std::min<size_t>(7, kContent.size() - at));
  }
  EXPECT_EQ(verifier.taken(), static_cast<int64_t>(kContent.size()));
  EXPECT_TRUE(verifier.Finish().ok);
  // A restart in the middle: what came before it does not count.
  verifier.Take(B("garbage from a run that was cut off"));
  verifier.Restart();
  verifier.Take(kContent);
  const FileVerdict verdict = verifier.Finish();
  EXPECT_TRUE(verdict.ok) << verdict.reason;
  EXPECT_EQ(verdict.reason, "");
}

TEST(FileVerifier, EachMismatchIsNamed) {
  const list::PatchEntry signed_entry = SignedEntry(kContent);
  list::PatchEntry plain = signed_entry;
  plain.digest.reset();
  const rt::Bytes forged = Forged(kContent, 10);
  ASSERT_EQ(checksum::FileChecksum(forged), checksum::FileChecksum(kContent));
  const rt::Bytes appended = [] {
    rt::Bytes b = kContent;
    b.push_back('!');
    return b;
  }();
  struct Case {
    const char* what;
    const list::PatchEntry& entry;
    rt::Bytes fed;
    bool ok;
    rt::Text reason;
  } const cases[] = {
      {"forged, signed list", signed_entry, forged, false, "SHA-256 differs"},
      {"forged, unsigned list: only the checksum to go by", plain, forged, true, ""},
      {"a byte appended", signed_entry, appended, false,
       "size 56 instead of 55, checksum " + rt::ToText(checksum::FileChecksum(appended)) + " instead of " +
           signed_entry.checksum.text()},
      {"cut short, unsigned list", plain, B("the quick"), false,
       "checksum " + rt::ToText(checksum::FileChecksum(B("the quick"))) + " instead of " + plain.checksum.text()},
      {"nothing at all", signed_entry, rt::Bytes(), false,
       "size 0 instead of 55, checksum 0 instead of " + signed_entry.checksum.text()},
  };
  for (const Case& c : cases) {
    FileVerifier verifier(c.entry);
    verifier.Take(c.fed);
    const FileVerdict verdict = verifier.Finish();
    EXPECT_EQ(verdict.ok, c.ok) << c.what;
    EXPECT_EQ(verdict.reason, c.reason) << c.what;
  }
}

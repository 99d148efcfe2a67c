// SHA-256 fed piece by piece, on whichever path this processor takes: the
// published vectors, and libsodium's own one-shot digest for every way the
// pieces can fall across the 64-byte blocks.
#include <gtest/gtest.h>
#include <sodium.h>

#include <string>
#include <vector>

#include "trust/sha256.h"

namespace {

std::string Hex(const trust::Sha256Digest& d) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : d) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

trust::Sha256Digest InPieces(const std::vector<std::uint8_t>& data, size_t piece) {
  trust::Sha256 hasher;
  for (size_t at = 0; at < data.size(); at += piece) {
    hasher.Update(data.data() + at, data.size() - at < piece ? data.size() - at : piece);
  }
  return hasher.Final();
}

TEST(Sha256, PublishedVectors) {
  struct Case {
    std::string text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(c.text.data());
    EXPECT_EQ(Hex(trust::Sha256Of(p, c.text.size())), c.digest) << c.text.size() << " bytes";
  }
}

TEST(Sha256, PiecesAcrossBlocksAgreeWithLibsodium) {
  std::vector<std::uint8_t> data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
  const size_t lengths[] = {0, 1, 55, 56, 63, 64, 65, 127, 128, 129, 1000, 70000};
  const size_t pieces[] = {1, 3, 63, 64, 65, 100, 4096, 70000};
  for (size_t length : lengths) {
    const std::vector<std::uint8_t> part(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
    trust::Sha256Digest want;
    crypto_hash_sha256(want.data(), part.data(), part.size());
    for (size_t piece : pieces) EXPECT_EQ(InPieces(part, piece), want) << length << " bytes in pieces of " << piece;
  }
}

TEST(Sha256, FinalStartsOver) {
  trust::Sha256 hasher;
  const std::string text = "abc";
  hasher.Update(reinterpret_cast<const std::uint8_t*>("xyz"), 3);
  (void)hasher.Final();
  hasher.Update(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  EXPECT_EQ(Hex(hasher.Final()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace

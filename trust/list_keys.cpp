#include "runtime/text.h"
#include "trust/list_keys.h"

#include <sodium.h>

#include <string>

namespace trust {

static_assert(crypto_sign_PUBLICKEYBYTES == kPublicKeyBytes, "Ed25519 public key size");
static_assert(crypto_sign_SECRETKEYBYTES == kSecretKeyBytes, "Ed25519 secret key size");
static_assert(crypto_sign_BYTES == kSignatureBytes, "Ed25519 signature size");

std::optional<KeyPair> NewKeyPair() {
  if (sodium_init() < 0) return std::nullopt;
  KeyPair pair;
  if (crypto_sign_keypair(pair.public_key.data(), pair.secret_key.data()) != 0) return std::nullopt;
  return pair;
}

rt::Text SecretKeyFileText(const SecretKey& key) { return rt::LowerHexOf(key.data(), key.size()) + "\n"; }

std::optional<SecretKey> ParseSecretKeyFile(const rt::Bytes& content) {
  rt::Text text(content.begin(), content.end());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  SecretKey key;
  const bool parsed = rt::ReadHexBytes(text, key.data(), key.size());
  sodium_memzero(text.data(), text.size());
  if (!parsed || sodium_init() < 0) {
    sodium_memzero(key.data(), key.size());
    return std::nullopt;
  }
  // The second half must be the public key of the seed in the first.
  PublicKey derived;
  SecretKey again;
  if (crypto_sign_seed_keypair(derived.data(), again.data(), key.data()) != 0 || again != key) {
    sodium_memzero(again.data(), again.size());
    sodium_memzero(key.data(), key.size());
    return std::nullopt;
  }
  sodium_memzero(again.data(), again.size());
  return key;
}

PublicKey PublicKeyOf(const SecretKey& key) {
  PublicKey out;
  crypto_sign_ed25519_sk_to_pk(out.data(), key.data());
  return out;
}

void WipeSecret(SecretKey* key) { sodium_memzero(key->data(), key->size()); }
void WipeSecret(rt::Bytes* bytes) {
  if (!bytes->empty()) sodium_memzero(bytes->data(), bytes->size());
}
void WipeSecret(rt::Text* text) {
  if (!text->empty()) sodium_memzero(text->data(), text->size());
}

rt::Bytes SignList(const rt::Bytes& unsigned_list, std::uint64_t sequence, const SecretKey& key,
                   std::optional<std::int64_t> expires, const rt::Text& product) {
  std::string head = std::string(kSequencePrefix) + std::to_string(sequence) + kLineEnd;
  if (!product.empty()) head += std::string(kProductPrefix) + product + kLineEnd;
  if (expires) head += std::string(kExpiresPrefix) + DateText(*expires) + kLineEnd;
  rt::Bytes list(head.begin(), head.end());
  const rt::Bytes entries = StripSignatureLines(unsigned_list);
  list.insert(list.end(), entries.begin(), entries.end());
  // A last entry without its line end would swallow the signature line.
  if (!entries.empty() && (entries.size() < 2 || entries[entries.size() - 2] != '\r' || entries.back() != '\n')) {
    list.push_back('\r');
    list.push_back('\n');
  }
  std::uint8_t signature[kSignatureBytes];
  if (sodium_init() < 0) return rt::Bytes();
  crypto_sign_detached(signature, nullptr, list.data(), list.size(), key.data());
  const std::string line = std::string(kSignaturePrefix) + rt::LowerHexOf(signature, sizeof signature) + kLineEnd;
  list.insert(list.end(), line.begin(), line.end());
  return list;
}

}  // namespace trust

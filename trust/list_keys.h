#pragma once
// Keys and signing, for the operator's tool. The secret key file holds the
// 64-byte Ed25519 secret key (seed and public key) as 128 hex digits on one
// line.
#include <array>
#include <cstdint>
#include <optional>

#include "runtime/types.h"
#include "trust/signed_list.h"

namespace trust {

constexpr size_t kSecretKeyBytes = 64;
using SecretKey = std::array<std::uint8_t, kSecretKeyBytes>;

struct KeyPair {
  PublicKey public_key;
  SecretKey secret_key;
};

// A new key pair from the system's random source; nothing when the crypto
// library cannot start.
std::optional<KeyPair> NewKeyPair();

// The text of a secret key file, and back. Reading checks that the public
// half matches the seed, so a damaged file is refused rather than used to
// sign lists that no client accepts.
rt::Text SecretKeyFileText(const SecretKey& key);
std::optional<SecretKey> ParseSecretKeyFile(const rt::Bytes& content);
PublicKey PublicKeyOf(const SecretKey& key);

// The signed form of a list: the sequence line, the product line when a
// product is given, the expiry line when a day is given, the entries of
// `unsigned_list` (its own sequence, product, expiry and signature lines left
// out), and the signature line. Empty when the crypto library cannot start.
rt::Bytes SignList(const rt::Bytes& unsigned_list, std::uint64_t sequence, const SecretKey& key,
                   std::optional<std::int64_t> expires = std::nullopt, const rt::Text& product = rt::Text());

// Overwrites secret bytes before their memory is let go.
void WipeSecret(SecretKey* key);
void WipeSecret(rt::Bytes* bytes);
void WipeSecret(rt::Text* text);

}  // namespace trust

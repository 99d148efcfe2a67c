#include "trust/sha256.h"

#include <sodium.h>

namespace trust {

static_assert(crypto_hash_sha256_BYTES == kSha256Bytes, "SHA-256 digest size");

namespace {
crypto_hash_sha256_state* State(unsigned char* storage) {
  static_assert(sizeof(crypto_hash_sha256_state) <= 128, "state storage");
  static_assert(alignof(crypto_hash_sha256_state) <= 8, "state alignment");
  return reinterpret_cast<crypto_hash_sha256_state*>(storage);
}
}  // namespace

// SHA-256 is plain C in libsodium: no sodium_init() and no CPU-specific path.
void Sha256::Init() { crypto_hash_sha256_init(State(state_)); }

void Sha256::Update(const std::uint8_t* data, size_t size) {
  if (size > 0) crypto_hash_sha256_update(State(state_), data, size);
}

Sha256Digest Sha256::Final() {
  Sha256Digest digest;
  crypto_hash_sha256_final(State(state_), digest.data());
  Init();
  return digest;
}

Sha256Digest Sha256Of(const std::uint8_t* data, size_t size) {
  Sha256 hasher;
  hasher.Update(data, size);
  return hasher.Final();
}

}  // namespace trust

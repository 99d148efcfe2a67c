#pragma once
// SHA-256 over bytes that arrive piece by piece (libsodium's
// crypto_hash_sha256, its whole blocks on the processor's SHA-256
// instructions where it has them). The list's hash lines carry it: operators can check a
// file with any common tool, and the updater already links the library.
#include <array>
#include <cstddef>
#include <cstdint>

namespace trust {

inline constexpr size_t kSha256Bytes = 32;
using Sha256Digest = std::array<std::uint8_t, kSha256Bytes>;

class Sha256 {
 public:
  Sha256() { Init(); }
  // Starts over: as if nothing had been fed.
  void Init();
  void Update(const std::uint8_t* data, size_t size);
  // The digest of everything fed since Init; the hasher then starts over.
  [[nodiscard]] Sha256Digest Final();

 private:
  // libsodium's state (104 bytes), kept opaque so that its header stays
  // inside trust/.
  alignas(8) unsigned char state_[128];
};

// The digest of one buffer.
Sha256Digest Sha256Of(const std::uint8_t* data, size_t size);

// Whether Update runs on the processor's SHA-256 instructions (else
// libsodium's plain C).
bool Sha256UsesInstructions();

}  // namespace trust

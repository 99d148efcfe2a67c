#include "trust/sha256.h"

#include <sodium.h>

#include <cstring>

#if defined(__SSE2__)
#include <cpuid.h>
#include <immintrin.h>
#define TRUST_HAVE_SHA_NI 1
#endif

namespace trust {

static_assert(crypto_hash_sha256_BYTES == kSha256Bytes, "SHA-256 digest size");

namespace {

constexpr size_t kBlockBytes = 64;

crypto_hash_sha256_state* State(unsigned char* storage) {
  static_assert(sizeof(crypto_hash_sha256_state) <= 128, "state storage");
  static_assert(alignof(crypto_hash_sha256_state) <= 8, "state alignment");
  return reinterpret_cast<crypto_hash_sha256_state*>(storage);
}

#if defined(TRUST_HAVE_SHA_NI)
// The processor's SHA-256 instructions: libsodium's plain C takes about 7
// cycles a byte, which held a verified download to half the engine's speed;
// these take about 2. Asked of the processor directly (see the checksum
// kernels for why not __builtin_cpu_supports).
bool HasShaInstructions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool sse41 = (ecx & bit_SSE4_1) != 0 && (ecx & bit_SSSE3) != 0;
  if (!sse41 || __get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & bit_SHA) != 0;
}

alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// `blocks` whole blocks into the eight state words. The arguments' stack is
// realigned: a thread started by 32-bit Windows may run on a 4-byte aligned
// stack, which xmm spills do not survive.
__attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer)) void ShaNiBlocks(uint32_t* state,
                                                                                      const uint8_t* data,
                                                                                      size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  // The instructions keep the words as ABEF and CDGH.
  __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (; blocks > 0; --blocks, data += kBlockBytes) {
    const __m128i abef_before = abef;
    const __m128i cdgh_before = cdgh;
    __m128i w[4];
#pragma GCC unroll 16
    for (int group = 0; group < 16; ++group) {
      __m128i& words = w[group & 3];
      if (group < 4) {
        words = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * group)), byte_swap);
      } else {
        const __m128i last = w[(group - 1) & 3];
        const __m128i seventh = _mm_alignr_epi8(last, w[(group - 2) & 3], 4);
        words = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(words, w[(group - 3) & 3]), seventh), last);
      }
      __m128i message =
          _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * group)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      message = _mm_shuffle_epi32(message, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

// Chosen once, before main (no guarded static: see the checksum kernels).
const bool kShaInstructions = HasShaInstructions();

// libsodium's update on its own state, whole blocks through the
// instructions; its final (padding, at most two blocks) stays its own.
void UpdateWithShaInstructions(crypto_hash_sha256_state* st, const uint8_t* data, size_t size) {
  size_t held = static_cast<size_t>((st->count >> 3) & (kBlockBytes - 1));
  st->count += static_cast<uint64_t>(size) << 3;
  if (held > 0) {
    const size_t fill = kBlockBytes - held < size ? kBlockBytes - held : size;
    std::memcpy(st->buf + held, data, fill);
    data += fill;
    size -= fill;
    held += fill;
    if (held < kBlockBytes) return;
    ShaNiBlocks(st->state, st->buf, 1);
  }
  const size_t blocks = size / kBlockBytes;
  if (blocks > 0) ShaNiBlocks(st->state, data, blocks);
  std::memcpy(st->buf, data + blocks * kBlockBytes, size - blocks * kBlockBytes);
}
#endif

}  // namespace

// SHA-256 is plain C in libsodium: no sodium_init() and no CPU-specific path.
void Sha256::Init() { crypto_hash_sha256_init(State(state_)); }

void Sha256::Update(const std::uint8_t* data, size_t size) {
  if (size == 0) return;
#if defined(TRUST_HAVE_SHA_NI)
  if (kShaInstructions) {
    UpdateWithShaInstructions(State(state_), data, size);
    return;
  }
#endif
  crypto_hash_sha256_update(State(state_), data, size);
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

bool Sha256UsesInstructions() {
#if defined(TRUST_HAVE_SHA_NI)
  return kShaInstructions;
#else
  return false;
#endif
}

}  // namespace trust

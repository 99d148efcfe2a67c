// Kernels for sum over j of (p[j] + 1) * 31^j (mod 2^32).
//
// The bytes are taken in blocks of kBlock. Within a block every byte has a
// fixed weight 31^j, split into two signed 16-bit halves (w = lo + hi * 2^16
// mod 2^32), so that pmaddwd multiplies zero-extended bytes by both halves and
// sums neighbouring lanes without overflow: |255 * 32768 * 2| < 2^31. The
// lane sums wrap mod 2^32, which is all the result needs. Each block's sum is
// then scaled by 31^(block offset) in scalar code, and the "+1" of every byte
// is added once per block as the constant sum of the block's weights.
//
// With SSSE3 (and AVX2), pmaddubsw first folds each byte pair into one 16-bit
// value b[2m] + 31 * b[2m+1] (at most 8160, so it never saturates); those
// pairs then take the even bytes' weights 31^(2m), which halves the work.
//
// With AVX-512BW, pmaddwd folds those pairs once more, by the constant
// weights (1, 31^2), into 32-bit values b[4m] + 31 b[4m+1] + 961 b[4m+2] +
// 29791 b[4m+3] (under 2^23), and one 32-bit multiply by 31^(4m) per value
// ends the block's work: three multiplies and one table load per 64 bytes,
// about one and a half times the AVX2 kernel's speed in 32-bit builds as in
// 64-bit ones. (The same scheme in 32-byte vectors gained a third on AMD
// processors but loses on Intel ones, whose 32-bit multiply takes two steps,
// so the AVX2 kernel stays as it is.)
#include <cstring>

#include "checksum/file_checksum.h"

#if defined(__SSE2__)
#include <cpuid.h>
#include <emmintrin.h>
#include <tmmintrin.h>
#define CHECKSUM_HAVE_SSSE3 1
#endif
#if defined(__SSE2__)
// 32- and 64-byte vectors in 32-bit builds too, where only eight vector
// registers exist: there the AVX2 kernel runs one chain of accumulators,
// which fits them, instead of the 64-bit kernel's two, which would spill in
// every block; the AVX-512 kernel's two chains fit as they are. (On Windows
// the stack is not kept 32-byte aligned for spills; checksum/CMakeLists.txt
// has the assembler make every aligned vector move an unaligned one there.)
#define CHECKSUM_HAVE_AVX2 1
#define CHECKSUM_HAVE_AVX512 1
#include <immintrin.h>
#endif

namespace checksum::detail {
namespace {

constexpr size_t kBlock = 512;
constexpr size_t kHalf = kBlock / 2;

struct Weights {
  // Weights of the even-offset and odd-offset bytes of a block: entry m of
  // the even tables belongs to byte 2m, of the odd tables to byte 2m + 1.
  alignas(32) int16_t even_lo[kHalf];
  alignas(32) int16_t even_hi[kHalf];
  alignas(32) int16_t odd_lo[kHalf];
  alignas(32) int16_t odd_hi[kHalf];
  alignas(64) uint32_t quad[kBlock / 4];  // 31^(4m): the weight of byte 4m
  uint32_t block_ones;    // sum over j < kBlock of 31^j: the "+1" of a block
  uint32_t block_weight;  // 31^kBlock
};

constexpr Weights MakeWeights() {
  Weights w{};
  uint32_t power = 1;
  uint32_t ones = 0;
  for (size_t j = 0; j < kBlock; ++j) {
    const int16_t lo = static_cast<int16_t>(static_cast<uint16_t>(power & 0xFFFF));
    const uint32_t rest = power - static_cast<uint32_t>(static_cast<int32_t>(lo));
    const int16_t hi = static_cast<int16_t>(static_cast<uint16_t>(rest >> 16));
    if (j % 4 == 0) w.quad[j / 4] = power;
    if (j % 2 == 0) {
      w.even_lo[j / 2] = lo;
      w.even_hi[j / 2] = hi;
    } else {
      w.odd_lo[j / 2] = lo;
      w.odd_hi[j / 2] = hi;
    }
    ones += power;
    power *= 31u;
  }
  w.block_ones = ones;
  w.block_weight = power;
  return w;
}

// Computed by the compiler: no first-use guard (and no threads library
// behind it) in the summing path.
constexpr Weights kWeights = MakeWeights();

const Weights& BlockWeights() { return kWeights; }

using BlockKernel = uint32_t (*)(const std::uint8_t* p, size_t blocks, uint32_t* weight_after);

uint32_t PortableLoop(const std::uint8_t* p, size_t n) {
  // Horner from the last byte: the value needs no powers at all.
  uint32_t h = 0;
  for (size_t k = n; k-- > 0;) h = h * 31u + p[k] + 1u;
  return h;
}

#if defined(__SSE2__)
// A block's sum from its lane sums: lo + hi * 2^16 over the four lanes, plus
// the block's "+1"s. Plain SSE2, so every kernel can share it.
inline uint32_t BlockSum(__m128i lo, __m128i hi, uint32_t ones) {
  __m128i sum = _mm_add_epi32(lo, _mm_slli_epi32(hi, 16));
  sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
  sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(sum)) + ones;
}

uint32_t Sse2Blocks(const std::uint8_t* p, size_t blocks, uint32_t* weight_after) {
  const Weights& w = BlockWeights();
  const __m128i low_bytes = _mm_set1_epi16(0x00FF);
  uint32_t total = 0;
  uint32_t scale = 1;
  for (size_t b = 0; b < blocks; ++b, p += kBlock) {
    __m128i lo_even = _mm_setzero_si128(), lo_odd = _mm_setzero_si128();
    __m128i hi_even = _mm_setzero_si128(), hi_odd = _mm_setzero_si128();
    for (size_t g = 0; g < kBlock / 16; ++g) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g));
      const __m128i even = _mm_and_si128(v, low_bytes);
      const __m128i odd = _mm_srli_epi16(v, 8);
      const size_t m = 8 * g;
      lo_even = _mm_add_epi32(lo_even, _mm_madd_epi16(even, _mm_load_si128(reinterpret_cast<const __m128i*>(w.even_lo + m))));
      hi_even = _mm_add_epi32(hi_even, _mm_madd_epi16(even, _mm_load_si128(reinterpret_cast<const __m128i*>(w.even_hi + m))));
      lo_odd = _mm_add_epi32(lo_odd, _mm_madd_epi16(odd, _mm_load_si128(reinterpret_cast<const __m128i*>(w.odd_lo + m))));
      hi_odd = _mm_add_epi32(hi_odd, _mm_madd_epi16(odd, _mm_load_si128(reinterpret_cast<const __m128i*>(w.odd_hi + m))));
    }
    const __m128i lo = _mm_add_epi32(lo_even, lo_odd);
    const __m128i hi = _mm_add_epi32(hi_even, hi_odd);
    const uint32_t block_sum = BlockSum(lo, hi, w.block_ones);
    total += scale * block_sum;
    scale *= w.block_weight;
  }
  *weight_after = scale;
  return total;
}
#endif

#if defined(CHECKSUM_HAVE_SSSE3)
__attribute__((target("ssse3"))) uint32_t Ssse3Blocks(const std::uint8_t* p, size_t blocks,
                                                      uint32_t* weight_after) {
  const Weights& w = BlockWeights();
  const __m128i pair_weights = _mm_set1_epi16(static_cast<short>(1 | (31 << 8)));
  uint32_t total = 0;
  uint32_t scale = 1;
  for (size_t b = 0; b < blocks; ++b, p += kBlock) {
    __m128i lo_a = _mm_setzero_si128(), lo_b = _mm_setzero_si128();
    __m128i hi_a = _mm_setzero_si128(), hi_b = _mm_setzero_si128();
    for (size_t g = 0; g < kBlock / 16; g += 2) {
      const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g));
      const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g + 16));
      const __m128i pairs0 = _mm_maddubs_epi16(v0, pair_weights);
      const __m128i pairs1 = _mm_maddubs_epi16(v1, pair_weights);
      const size_t m = 8 * g;
      lo_a = _mm_add_epi32(lo_a, _mm_madd_epi16(pairs0, _mm_load_si128(reinterpret_cast<const __m128i*>(w.even_lo + m))));
      hi_a = _mm_add_epi32(hi_a, _mm_madd_epi16(pairs0, _mm_load_si128(reinterpret_cast<const __m128i*>(w.even_hi + m))));
      lo_b = _mm_add_epi32(lo_b, _mm_madd_epi16(pairs1, _mm_load_si128(reinterpret_cast<const __m128i*>(w.even_lo + m + 8))));
      hi_b = _mm_add_epi32(hi_b, _mm_madd_epi16(pairs1, _mm_load_si128(reinterpret_cast<const __m128i*>(w.even_hi + m + 8))));
    }
    const __m128i lo = _mm_add_epi32(lo_a, lo_b);
    const __m128i hi = _mm_add_epi32(hi_a, hi_b);
    const uint32_t block_sum = BlockSum(lo, hi, w.block_ones);
    total += scale * block_sum;
    scale *= w.block_weight;
  }
  *weight_after = scale;
  return total;
}
#endif

#if defined(CHECKSUM_HAVE_AVX2)
__attribute__((target("avx2"))) uint32_t Avx2Blocks(const std::uint8_t* p, size_t blocks,
                                                    uint32_t* weight_after) {
  const Weights& w = BlockWeights();
  const __m256i pair_weights = _mm256_set1_epi16(static_cast<short>(1 | (31 << 8)));
  uint32_t total = 0;
  uint32_t scale = 1;
  for (size_t b = 0; b < blocks; ++b, p += kBlock) {
    __m256i lo_a = _mm256_setzero_si256(), lo_b = _mm256_setzero_si256();
    __m256i hi_a = _mm256_setzero_si256(), hi_b = _mm256_setzero_si256();
#if defined(__x86_64__)
    for (size_t g = 0; g < kBlock / 32; g += 2) {
      const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * g));
      const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * g + 32));
      const __m256i pairs0 = _mm256_maddubs_epi16(v0, pair_weights);
      const __m256i pairs1 = _mm256_maddubs_epi16(v1, pair_weights);
      const size_t m = 16 * g;
      lo_a = _mm256_add_epi32(lo_a, _mm256_madd_epi16(pairs0, _mm256_load_si256(reinterpret_cast<const __m256i*>(w.even_lo + m))));
      hi_a = _mm256_add_epi32(hi_a, _mm256_madd_epi16(pairs0, _mm256_load_si256(reinterpret_cast<const __m256i*>(w.even_hi + m))));
      lo_b = _mm256_add_epi32(lo_b, _mm256_madd_epi16(pairs1, _mm256_load_si256(reinterpret_cast<const __m256i*>(w.even_lo + m + 16))));
      hi_b = _mm256_add_epi32(hi_b, _mm256_madd_epi16(pairs1, _mm256_load_si256(reinterpret_cast<const __m256i*>(w.even_hi + m + 16))));
    }
#else
    for (size_t g = 0; g < kBlock / 32; ++g) {
      const __m256i pairs =
          _mm256_maddubs_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * g)), pair_weights);
      const size_t m = 16 * g;
      lo_a = _mm256_add_epi32(lo_a, _mm256_madd_epi16(pairs, _mm256_load_si256(reinterpret_cast<const __m256i*>(w.even_lo + m))));
      hi_a = _mm256_add_epi32(hi_a, _mm256_madd_epi16(pairs, _mm256_load_si256(reinterpret_cast<const __m256i*>(w.even_hi + m))));
    }
#endif
    const __m256i lo = _mm256_add_epi32(lo_a, lo_b);
    const __m256i hi = _mm256_add_epi32(hi_a, hi_b);
    const uint32_t block_sum =
        BlockSum(_mm_add_epi32(_mm256_castsi256_si128(lo), _mm256_extracti128_si256(lo, 1)),
                 _mm_add_epi32(_mm256_castsi256_si128(hi), _mm256_extracti128_si256(hi, 1)), w.block_ones);
    total += scale * block_sum;
    scale *= w.block_weight;
  }
  *weight_after = scale;
  return total;
}
#endif

#if defined(CHECKSUM_HAVE_AVX512)
// GCC 12's 64-byte extract leaves its masked-off lanes unset on purpose and
// then warns about them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
__attribute__((target("avx512f,avx512bw"))) uint32_t Avx512Blocks(const std::uint8_t* p, size_t blocks,
                                                                  uint32_t* weight_after) {
  const Weights& w = BlockWeights();
  const __m512i pair_weights = _mm512_set1_epi16(static_cast<short>(1 | (31 << 8)));
  const __m512i quad_weights = _mm512_set1_epi32(1 | (31 * 31 << 16));
  uint32_t total = 0;
  uint32_t scale = 1;
  for (size_t b = 0; b < blocks; ++b, p += kBlock) {
    __m512i sum_a = _mm512_setzero_si512(), sum_b = _mm512_setzero_si512();
    for (size_t g = 0; g < kBlock / 64; g += 2) {
      const __m512i v0 = _mm512_loadu_si512(p + 64 * g);
      const __m512i v1 = _mm512_loadu_si512(p + 64 * g + 64);
      const __m512i quads0 = _mm512_madd_epi16(_mm512_maddubs_epi16(v0, pair_weights), quad_weights);
      const __m512i quads1 = _mm512_madd_epi16(_mm512_maddubs_epi16(v1, pair_weights), quad_weights);
      sum_a = _mm512_add_epi32(sum_a, _mm512_mullo_epi32(quads0, _mm512_load_si512(w.quad + 16 * g)));
      sum_b = _mm512_add_epi32(sum_b, _mm512_mullo_epi32(quads1, _mm512_load_si512(w.quad + 16 * g + 16)));
    }
    const __m512i sum = _mm512_add_epi32(sum_a, sum_b);
    const __m256i half = _mm256_add_epi32(_mm512_castsi512_si256(sum), _mm512_extracti64x4_epi64(sum, 1));
    const uint32_t block_sum =
        BlockSum(_mm_add_epi32(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1)), _mm_setzero_si128(),
                 w.block_ones);
    total += scale * block_sum;
    scale *= w.block_weight;
  }
  *weight_after = scale;
  return total;
}
#pragma GCC diagnostic pop
#endif

struct Kernel {
  const char* name;
  BlockKernel blocks;  // nullptr: the portable loop throughout
};

#if defined(CHECKSUM_HAVE_SSSE3)
// Asked of the processor directly: the compiler's feature table
// (__builtin_cpu_supports) would link its 5 KB decoder of processor models
// into the Windows programs, which have no other use for it.
bool HasSsse3() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSSE3) != 0;
}
#endif

#if defined(CHECKSUM_HAVE_AVX2)
// Asked of the processor directly, as for SSSE3: the processor has the
// extended features in `features_ebx` (cpuid leaf 7) and the system saves
// the register state in `saved_state` (XCR0 bits) on a thread switch.
bool HasVectorFeatures(unsigned features_ebx, unsigned saved_state) {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
  unsigned saved = 0, saved_high = 0;
  __asm__("xgetbv" : "=a"(saved), "=d"(saved_high) : "c"(0));
  if ((saved & saved_state) != saved_state) return false;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & features_ebx) == features_ebx;
}

// The 16- and 32-byte registers (XCR0 bits 1 and 2).
bool HasAvx2() { return HasVectorFeatures(bit_AVX2, 0x06); }

// Also the mask registers and the 64-byte ones' upper halves, all sixteen or
// thirty-two of them (bits 5 to 7).
bool HasAvx512() { return HasVectorFeatures(bit_AVX512F | bit_AVX512BW, 0xE6); }
#endif

Kernel ChooseKernel() {
#if defined(CHECKSUM_HAVE_AVX512)
  if (HasAvx512()) return {"avx512", &Avx512Blocks};
#endif
#if defined(CHECKSUM_HAVE_AVX2)
  if (HasAvx2()) return {"avx2", &Avx2Blocks};
#endif
#if defined(CHECKSUM_HAVE_SSSE3)
  if (HasSsse3()) return {"ssse3", &Ssse3Blocks};
#endif
#if defined(__SSE2__)
  return {"sse2", &Sse2Blocks};
#else
  return {"portable", nullptr};
#endif
}

// Chosen once, before main, rather than in a guarded function-local static:
// the guard would bring the threads library into the Windows programs.
// Nothing sums before main.
const Kernel kActiveKernel = ChooseKernel();

const Kernel& ActiveKernel() { return kActiveKernel; }

uint32_t SumWith(BlockKernel blocks_kernel, const std::uint8_t* p, size_t n) {
  if (blocks_kernel == nullptr) return PortableLoop(p, n);
  const size_t blocks = n / kBlock;
  uint32_t weight = 1;
  uint32_t sum = blocks > 0 ? blocks_kernel(p, blocks, &weight) : 0;
  const size_t done = blocks * kBlock;
  if (done < n) sum += weight * PortableLoop(p + done, n - done);
  return sum;
}

}  // namespace

uint32_t WeightedSum(const std::uint8_t* p, size_t n) { return SumWith(ActiveKernel().blocks, p, n); }

uint32_t WeightedSumPortable(const std::uint8_t* p, size_t n) { return PortableLoop(p, n); }

const char* KernelName() { return ActiveKernel().name; }

std::vector<std::pair<const char*, uint32_t (*)(const std::uint8_t*, size_t)>> AvailableKernels() {
  std::vector<std::pair<const char*, uint32_t (*)(const std::uint8_t*, size_t)>> kernels;
  kernels.emplace_back("portable", &WeightedSumPortable);
#if defined(__SSE2__)
  kernels.emplace_back("sse2", [](const std::uint8_t* p, size_t n) { return SumWith(&Sse2Blocks, p, n); });
#endif
#if defined(CHECKSUM_HAVE_SSSE3)
  if (HasSsse3())
    kernels.emplace_back("ssse3", [](const std::uint8_t* p, size_t n) { return SumWith(&Ssse3Blocks, p, n); });
#endif
#if defined(CHECKSUM_HAVE_AVX2)
  if (HasAvx2())
    kernels.emplace_back("avx2", [](const std::uint8_t* p, size_t n) { return SumWith(&Avx2Blocks, p, n); });
#endif
#if defined(CHECKSUM_HAVE_AVX512)
  if (HasAvx512())
    kernels.emplace_back("avx512", [](const std::uint8_t* p, size_t n) { return SumWith(&Avx512Blocks, p, n); });
#endif
  return kernels;
}

uint32_t PowerOf31(uint64_t n) {
  uint32_t result = 1;
  uint32_t base = 31;
  while (n > 0) {
    if (n & 1) result *= base;
    base *= base;
    n >>= 1;
  }
  return result;
}

}  // namespace checksum::detail

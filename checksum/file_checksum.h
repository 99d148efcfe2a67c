#pragma once
// The 32-bit checksum the server's file list gives for each client file.
//
// Over the bytes b[0..n-1] the value is h, starting at 0, updated for k from
// n-1 down to 0 as h = h * 31 + b[k] + 1 (mod 2^32), read as a signed value.
// Unrolled, h = sum over k of (b[k] + 1) * 31^k (mod 2^32), which is what lets
// the implementation take the bytes in file order, in chunks and blocks.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "runtime/types.h"

namespace checksum {

// The checksum of a whole content; the empty content gives 0.
int32_t FileChecksum(const rt::Bytes& content);

// Takes a content piece by piece, in order; Result() is FileChecksum of all the
// pieces put together.
class ChecksumAccumulator {
 public:
  // A sum over a range of the content that starts `offset` bytes in (64-bit:
  // files pass 4 GiB). The results of consecutive ranges add up, mod 2^32,
  // to the whole content's.
  static ChecksumAccumulator StartingAt(uint64_t offset);

  void Feed(const std::uint8_t* data, size_t size);
  void Feed(const rt::Bytes& data) { Feed(data.data(), data.size()); }
  int32_t Result() const { return static_cast<int32_t>(hash_); }

 private:
  uint32_t hash_ = 0;   // the sum over the bytes fed so far
  uint32_t weight_ = 1; // 31^(number of bytes fed so far)
};

// Bytes read and summed between two calls of `between_chunks`: small enough
// to stay in the processor's cache from the read to the sum, large enough
// that the read calls cost little. On a cached 1 GiB file 512 KiB pieces
// summed as fast as 1 MiB ones and a little faster than 256 KiB; 64 KiB
// pieces took a quarter longer. A sequential-read hint to the system made no
// difference once the file is in the page cache (bench/checksum).
constexpr size_t kChecksumChunkSize = 512 << 10;

// FileChecksum of a file's content, read in chunks; `between_chunks` is
// called after each chunk (the window thread lets messages through there).
// A missing or unreadable file counts as empty content and gives 0.
int32_t FileChecksumOfFile(const rt::Text& path, const std::function<void()>& between_chunks = {});

// As FileChecksumOfFile, but nothing when the file cannot be opened or read
// to its end, or when its size changed while it was read.
std::optional<int32_t> TryFileChecksumOfFile(const rt::Text& path,
                                             const std::function<void()>& between_chunks = {});

namespace detail {
// sum over j of (p[j] + 1) * 31^j (mod 2^32); the fastest kernel this
// processor has. Exposed for the tests and the benchmark.
uint32_t WeightedSum(const std::uint8_t* p, size_t n);
// The same with the portable per-byte loop only.
uint32_t WeightedSumPortable(const std::uint8_t* p, size_t n);
// 31^n (mod 2^32).
uint32_t PowerOf31(uint64_t n);
// The name of the kernel WeightedSum uses ("avx512", "avx2", "ssse3", "sse2" or "portable").
const char* KernelName();
// Every kernel this processor can run, by name, each over a whole range.
std::vector<std::pair<const char*, uint32_t (*)(const std::uint8_t*, size_t)>> AvailableKernels();
}  // namespace detail

}  // namespace checksum

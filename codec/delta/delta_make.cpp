#include "codec/delta/delta_make.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace codec::delta {
namespace {

constexpr size_t kMinSlots = 16;
// A copy shorter than a block costs more in operation heads than it saves.
constexpr size_t kMinCopyBytes = 32;

// Spreads a hash's bits (the rolling hash is weak in its high bits for short
// inputs): the finaliser of MurmurHash3.
std::uint64_t Mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

// How many bytes a[0..] and b[0..] have in common, up to `limit`.
size_t ForwardMatch(const std::uint8_t* a, const std::uint8_t* b, size_t limit) {
  size_t n = 0;
  while (n + 8 <= limit) {
    std::uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) break;
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// The same backwards from a[-1] and b[-1].
size_t BackwardMatch(const std::uint8_t* a, const std::uint8_t* b, size_t limit) {
  size_t n = 0;
  while (n < limit && a[-1 - static_cast<std::ptrdiff_t>(n)] == b[-1 - static_cast<std::ptrdiff_t>(n)]) ++n;
  return n;
}

class OpWriter {
 public:
  explicit OpWriter(std::uint64_t output_offset) : predicted_(output_offset) {}
  void Add(const std::uint8_t* data, size_t size) {
    if (size == 0) return;
    stream_.push_back(kOpAdd);
    PutVarint(size, &stream_);
    stream_.insert(stream_.end(), data, data + size);
    predicted_ += size;
  }
  void Copy(std::uint64_t from, std::uint64_t size) {
    stream_.push_back(kOpCopy);
    PutVarint(size, &stream_);
    PutVarint(ZigZag(static_cast<std::int64_t>(from - predicted_)), &stream_);
    predicted_ = from + size;
    copied_ += size;
  }
  // Where a copy continuing the last one would read after `pending` more
  // added bytes.
  [[nodiscard]] std::uint64_t Predicted(size_t pending) const { return predicted_ + pending; }
  std::vector<std::uint8_t>& stream() { return stream_; }
  [[nodiscard]] std::uint64_t copied() const { return copied_; }

 private:
  std::vector<std::uint8_t> stream_;
  std::uint64_t predicted_;
  std::uint64_t copied_ = 0;
};

}  // namespace

BlockIndex::BlockIndex(const std::uint8_t* old, std::uint64_t old_size) : old_(old), old_size_(old_size) {
  while (old_size_ / block_bytes_ >= 0xFFFFFFFFull) block_bytes_ *= 2;
  for (size_t i = 0; i < block_bytes_; ++i) out_factor_ *= kPrime;
  const std::uint64_t blocks = old_size_ / block_bytes_;
  size_t slots = kMinSlots;
  int bits = 4;
  while (slots < blocks) {
    slots *= 2;
    ++bits;
  }
  shift_ = 64 - bits;
  slots_.resize(slots);
  for (std::uint64_t block = 0; block < blocks; ++block) {
    const std::uint64_t mixed = Mix(Hash(old_ + block * block_bytes_));
    const size_t home = static_cast<size_t>(mixed >> shift_);
    const auto fingerprint = static_cast<std::uint32_t>(mixed);
    for (size_t probe = 0; probe < kIndexProbes; ++probe) {
      Slot& slot = slots_[(home + probe) & (slots - 1)];
      if (slot.block_plus_one == 0) {
        slot.block_plus_one = static_cast<std::uint32_t>(block + 1);
        slot.fingerprint = fingerprint;
        break;
      }
      // Equal content already indexed: the first copy serves.
      if (slot.fingerprint == fingerprint) break;
    }
  }
}

std::uint64_t BlockIndex::Hash(const std::uint8_t* data) const {
  std::uint64_t hash = 0;
  for (size_t i = 0; i < block_bytes_; ++i) hash = hash * kPrime + data[i];
  return hash;
}

size_t BlockIndex::Candidates(std::uint64_t hash, std::uint64_t* offsets) const {
  const std::uint64_t mixed = Mix(hash);
  const size_t home = static_cast<size_t>(mixed >> shift_);
  const auto fingerprint = static_cast<std::uint32_t>(mixed);
  size_t count = 0;
  for (size_t probe = 0; probe < kIndexProbes; ++probe) {
    const Slot& slot = slots_[(home + probe) & (slots_.size() - 1)];
    if (slot.block_plus_one == 0) break;
    if (slot.fingerprint == fingerprint)
      offsets[count++] = static_cast<std::uint64_t>(slot.block_plus_one - 1) * block_bytes_;
  }
  return count;
}

bool MakeSegment(const BlockIndex& index, const std::uint8_t* data, size_t size, std::uint64_t output_offset,
                 int level, SegmentPatch* patch) {
  const size_t block = index.block_bytes();
  const std::uint8_t* old = index.old();
  const std::uint64_t old_size = index.old_size();
  OpWriter ops(output_offset);
  size_t added_from = 0;  // bytes [added_from, at) wait to be added
  size_t at = 0;
  std::uint64_t hash = size >= block ? index.Hash(data) : 0;
  while (at + block <= size) {
    std::uint64_t candidates[kIndexProbes + 1];
    size_t count = 0;
    // Where the last copy would continue first: it costs the fewest bytes.
    const std::uint64_t continued = ops.Predicted(at - added_from);
    if (continued + block <= old_size) candidates[count++] = continued;
    count += index.Candidates(hash, candidates + count);
    std::uint64_t best_from = 0;
    size_t best_back = 0, best_forward = 0;
    for (size_t i = 0; i < count; ++i) {
      const std::uint64_t from = candidates[i];
      if (i > 0 && from == continued) continue;
      const size_t limit = static_cast<size_t>(std::min<std::uint64_t>(old_size - from, size - at));
      const size_t forward = ForwardMatch(old + from, data + at, limit);
      if (forward < block && forward < size - at) continue;
      const size_t back = BackwardMatch(old + from, data + at,
                                        static_cast<size_t>(std::min<std::uint64_t>(from, at - added_from)));
      if (back + forward > best_back + best_forward) {
        best_from = from;
        best_back = back;
        best_forward = forward;
      }
    }
    if (best_back + best_forward >= std::max(kMinCopyBytes, block)) {
      ops.Add(data + added_from, at - best_back - added_from);
      ops.Copy(best_from - best_back, best_back + best_forward);
      at += best_forward;
      added_from = at;
      if (at + block <= size) hash = index.Hash(data + at);
      continue;
    }
    if (at + block < size) hash = index.Roll(hash, data[at], data[at + block]);
    ++at;
  }
  // The tail shorter than a block: still a copy where the last one goes on.
  if (added_from < size) {
    const std::uint64_t continued = ops.Predicted(0);
    const size_t tail = size - added_from;
    if (continued <= old_size && old_size - continued >= tail && tail >= kMinCopyBytes &&
        std::memcmp(old + continued, data + added_from, tail) == 0) {
      ops.Copy(continued, tail);
    } else {
      ops.Add(data + added_from, tail);
    }
  }

  std::vector<std::uint8_t>& stream = ops.stream();
  ZSTD_CCtx* context = ZSTD_createCCtx();
  if (context == nullptr) return false;
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, kWindowLog);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 0);
  // Left uninitialised: pages the compressor never writes are never touched.
  const size_t bound = ZSTD_compressBound(stream.size());
  const std::unique_ptr<std::uint8_t[]> body(new std::uint8_t[bound]);
  const size_t written = ZSTD_compress2(context, body.get(), bound, stream.data(), stream.size());
  ZSTD_freeCCtx(context);
  if (ZSTD_isError(written)) return false;
  patch->body.assign(body.get(), body.get() + written);
  patch->stream_bytes = stream.size();
  patch->copied_bytes = ops.copied();
  return true;
}

bool MakeDelta(const std::uint8_t* old, std::uint64_t old_size, const std::uint8_t* data, std::uint64_t size,
               std::uint64_t segment_bytes, int level, DigestFunction digest, std::vector<std::uint8_t>* patch) {
  if (segment_bytes < kMinSegmentBytes || segment_bytes > kMaxSegmentBytes) return false;
  const BlockIndex index(old, old_size);
  DeltaHeader header;
  header.old_size = old_size;
  header.new_size = size;
  header.segment_bytes = segment_bytes;
  std::vector<std::vector<std::uint8_t>> bodies;
  for (std::uint64_t offset = 0; offset < size; offset += segment_bytes) {
    const size_t bytes = static_cast<size_t>(std::min(segment_bytes, size - offset));
    SegmentPatch segment;
    if (!MakeSegment(index, data + offset, bytes, offset, level, &segment)) return false;
    SegmentRecord record;
    record.body_bytes = segment.body.size();
    record.stream_bytes = segment.stream_bytes;
    record.sha256 = digest(data + offset, bytes);
    header.segments.push_back(record);
    bodies.push_back(std::move(segment.body));
  }
  *patch = EncodeHeader(header);
  for (const auto& body : bodies) patch->insert(patch->end(), body.begin(), body.end());
  return true;
}

}  // namespace codec::delta

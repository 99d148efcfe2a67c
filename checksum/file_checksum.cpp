// The checksum over a content held in memory, whole or piece by piece.
#include "checksum/file_checksum.h"

namespace checksum {

int32_t FileChecksum(const rt::Bytes& content) {
  return static_cast<int32_t>(detail::WeightedSum(content.data(), content.size()));
}

ChecksumAccumulator ChecksumAccumulator::StartingAt(uint64_t offset) {
  ChecksumAccumulator sum;
  sum.weight_ = detail::PowerOf31(offset);
  return sum;
}

void ChecksumAccumulator::Feed(const std::uint8_t* data, size_t size) {
  if (size == 0) return;
  // The piece's bytes sit at offsets shifted by the bytes fed before it.
  hash_ += weight_ * detail::WeightedSum(data, size);
  weight_ *= detail::PowerOf31(size);
}

}  // namespace checksum

#include "checksum_cache/sum_table.h"

#include <algorithm>
#include <cstring>

namespace sums {
namespace {
// Bytes of one block of names; a path never spans two.
constexpr size_t kNameBlockBytes = 64 * 1024;
static_assert(kMaxSumsPathBytes <= kNameBlockBytes, "a path fits one block");
}  // namespace

void SumTable::Clear() {
  rows_.clear();
  rows_.shrink_to_fit();
  blocks_.clear();
  spare_blocks_.clear();
  block_used_ = 0;
  next_order_ = 0;
  sorted_ = true;
}

void SumTable::Reserve(size_t rows, size_t name_bytes) {
  if (rows_.size() + rows > rows_.capacity()) rows_.reserve(rows_.size() + rows);
  // A path never spans two blocks: a block leaves less than the longest
  // path unused at its end.
  const size_t room = kNameBlockBytes - kMaxSumsPathBytes;
  const size_t wanted = (name_bytes + room - 1) / room;
  blocks_.reserve(blocks_.size() + spare_blocks_.size() + wanted);
  while (spare_blocks_.size() < wanted) spare_blocks_.push_back(std::make_unique<char[]>(kNameBlockBytes));
}

void SumTable::Store(std::string_view path, Row* row) {
  const size_t size = std::min(path.size(), kMaxSumsPathBytes);
  if (blocks_.empty() || block_used_ + size > kNameBlockBytes) {
    if (spare_blocks_.empty()) {
      blocks_.push_back(std::make_unique<char[]>(kNameBlockBytes));
    } else {
      blocks_.push_back(std::move(spare_blocks_.back()));
      spare_blocks_.pop_back();
    }
    block_used_ = 0;
  }
  std::memcpy(blocks_.back().get() + block_used_, path.data(), size);
  row->name_block = static_cast<uint32_t>(blocks_.size() - 1);
  row->name_at = static_cast<uint16_t>(block_used_);
  row->name_size = static_cast<uint16_t>(size);
  block_used_ += size;
}

std::string_view SumTable::Name(const Row& row) const {
  return std::string_view(blocks_[row.name_block].get() + row.name_at, row.name_size & kSizeMask);
}

SumRecord SumTable::Record(const Row& row) const {
  SumRecord record;
  record.path.assign(Name(row));
  record.origin = (row.name_size & kInstalledFlag) != 0 ? SumOrigin::kInstalled : SumOrigin::kRead;
  record.size = row.size;
  record.last_write_time = row.last_write_time;
  record.creation_time = row.creation_time;
  record.identity = row.identity;
  record.checksum = row.checksum;
  record.recorded_at = row.recorded_at;
  return record;
}

void SumTable::Put(std::string_view path, const SumRecord& record) {
  Row row{record.size, record.last_write_time, record.creation_time, record.recorded_at, record.identity,
          record.checksum, next_order_++, 0, 0, 0};
  Store(path, &row);
  if (record.origin == SumOrigin::kInstalled) row.name_size |= kInstalledFlag;
  rows_.push_back(row);
  sorted_ = false;
}

void SumTable::Drop(std::string_view path) {
  Row row{};
  row.order = next_order_++;
  Store(path, &row);
  row.name_size |= kDroppedFlag;
  rows_.push_back(row);
  sorted_ = false;
}

void SumTable::Sort() {
  if (sorted_) return;
  std::sort(rows_.begin(), rows_.end(), [this](const Row& a, const Row& b) {
    const int order = Name(a).compare(Name(b));
    return order != 0 ? order < 0 : a.order < b.order;
  });
  // The latest row of each path, in place, its name copied to fresh blocks
  // (the names of replaced and dropped rows go).
  std::vector<std::unique_ptr<char[]>> old_blocks;
  old_blocks.swap(blocks_);
  block_used_ = 0;
  size_t kept = 0;
  for (size_t i = 0; i < rows_.size(); ++i) {
    Row& row = rows_[i];
    const std::string_view name(old_blocks[row.name_block].get() + row.name_at, row.name_size & kSizeMask);
    if (i + 1 < rows_.size()) {
      const Row& next = rows_[i + 1];
      const std::string_view next_name(old_blocks[next.name_block].get() + next.name_at,
                                       next.name_size & kSizeMask);
      if (next_name == name) continue;  // a later row of the same path
    }
    if ((row.name_size & kDroppedFlag) != 0) continue;
    const uint16_t flags = row.name_size & kInstalledFlag;
    Row moved = row;
    Store(name, &moved);
    moved.name_size |= flags;
    moved.order = static_cast<uint32_t>(kept);
    rows_[kept++] = moved;
  }
  // The capacity stays: a copy of the rows to shrink them would cost more,
  // at its peak, than it gives back.
  rows_.resize(kept);
  next_order_ = static_cast<uint32_t>(kept);
  sorted_ = true;
}

std::optional<SumRecord> SumTable::Find(std::string_view path) const {
  if (!sorted_) return std::nullopt;
  const auto it = std::lower_bound(rows_.begin(), rows_.end(), path,
                                   [this](const Row& row, std::string_view p) { return Name(row) < p; });
  if (it == rows_.end() || Name(*it) != path) return std::nullopt;
  return Record(*it);
}

}  // namespace sums

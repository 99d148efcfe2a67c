#pragma once
// The checksum cache's records in memory, compact: a client of 100,000 files
// keeps each record's facts in one 64-byte row and its path once, in blocks
// of names, with no node, string or allocation of its own per record.
// Records are added in any order (a later one of the same path replaces the
// earlier) and put in path order when asked; a lookup needs that order.
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "checksum_cache/checksum_cache_file.h"
#include "runtime/types.h"

namespace sums {

class SumTable {
 public:
  SumTable() = default;
  SumTable(const SumTable&) = delete;
  SumTable& operator=(const SumTable&) = delete;

  void Clear();
  // Room for `rows` more records whose paths take `name_bytes` in all,
  // allocated now: Put and Drop within it allocate nothing. A caller whose
  // records come from short-lived threads reserves first, so the records
  // do not land between those threads' transient allocations and pin them.
  void Reserve(size_t rows, size_t name_bytes);
  // The record of `path` (its own path field is not kept); it replaces any
  // earlier one of the path.
  void Put(std::string_view path, const SumRecord& record);
  // `path` has no record any more.
  void Drop(std::string_view path);
  // Puts the records in ascending byte order of their paths, each path once
  // (its latest record), dropped ones gone.
  void Sort();
  // The record of `path`, its path filled in; only after Sort, with no Put
  // or Drop since.
  std::optional<SumRecord> Find(std::string_view path) const;
  // The records after Sort: fn(path, record) in path order.
  template <typename Fn>
  void ForEach(Fn fn) const {
    for (const Row& row : rows_) fn(Name(row), Record(row));
  }
  size_t size() const { return rows_.size(); }

 private:
  struct Row {
    int64_t size;
    uint64_t last_write_time;
    uint64_t creation_time;
    uint64_t recorded_at;
    rt::FileIdentity identity;
    int32_t checksum;
    uint32_t order;  // when it was put: the latest of a path wins
    uint32_t name_block;
    uint16_t name_at;
    uint16_t name_size;  // the path's length, and the two flags below
  };
  static constexpr uint16_t kInstalledFlag = 0x4000;  // origin kInstalled
  static constexpr uint16_t kDroppedFlag = 0x8000;    // the path has no record
  static constexpr uint16_t kSizeMask = 0x1FFF;
  static_assert(kMaxSumsPathBytes <= kSizeMask, "a path's length fits beside the flags");
  static_assert(sizeof(Row) == 64, "one row per record");

  std::string_view Name(const Row& row) const;
  SumRecord Record(const Row& row) const;
  // The path's bytes in the name blocks: its block and offset.
  void Store(std::string_view path, Row* row);

  std::vector<Row> rows_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  // Reserved name blocks not used yet, the next one last.
  std::vector<std::unique_ptr<char[]>> spare_blocks_;
  size_t block_used_ = 0;
  uint32_t next_order_ = 0;
  bool sorted_ = true;
};

}  // namespace sums

// update.sums as the updater reads it, from any bytes: the reader never reads
// past its input; a file it accepts goes back through the writer byte for
// byte, its records writable and in order; and no single byte of an accepted
// file can be changed and the result still be taken. Each input is read as it
// is and again with its checksum made right, so that the records behind the
// checksum are fuzzed too.
#include <algorithm>
#include <cstdint>

#include "checksum_cache/checksum_cache_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Positions of an accepted file whose change is tried, at most this many,
// spread over the whole file.
constexpr size_t kChangedPositions = 512;

void Check(const std::uint8_t* data, std::size_t size, std::uint8_t flip) {
  const sums::SumsRead read = sums::ParseSumsFile(data, size);
  if (!read.ok()) {
    FUZZ_CHECK(read.file.records.empty());
    return;
  }
  const std::vector<sums::SumRecord>& records = read.file.records;
  for (size_t i = 0; i < records.size(); ++i) {
    FUZZ_CHECK(sums::Writable(records[i]));
    FUZZ_CHECK(i == 0 || records[i - 1].path < records[i].path);
  }
  const rt::Bytes written = sums::FormatSumsFile(read.file);
  FUZZ_CHECK(written.size() == size && std::equal(written.begin(), written.end(), data));

  rt::Bytes changed(data, data + size);
  const size_t step = std::max<size_t>(1, size / kChangedPositions);
  for (size_t i = 0; i < size; i += step) {
    changed[i] ^= flip;
    FUZZ_CHECK(!sums::ParseSumsFile(changed).ok());
    changed[i] ^= flip;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The change tried on accepted files: never 0, from the input.
  const std::uint8_t flip = size == 0 || data[size - 1] == 0 ? 0x5A : data[size - 1];
  Check(data, size, flip);
  rt::Bytes sealed(data, data + size);
  sums::SealSumsFile(&sealed);
  Check(sealed.data(), sealed.size(), flip);
  return 0;
}

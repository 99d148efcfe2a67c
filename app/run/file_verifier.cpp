#include "app/run/file_verifier.h"

#include <vector>

#include "runtime/convert.h"
#include "runtime/files.h"

namespace app {
namespace {
// Piece of a partial file read at a time by TakeFile.
constexpr size_t kReadPiece = 256 << 10;
}  // namespace

FileVerifier::FileVerifier(const list::PatchEntry& entry) : entry_(entry) {}

void FileVerifier::Restart() {
  checksum_ = checksum::ChecksumAccumulator();
  sha256_.Init();
  taken_ = 0;
}

void FileVerifier::Take(const std::uint8_t* data, size_t size) {
  checksum_.Feed(data, size);
  if (entry_.digest) sha256_.Update(data, size);
  taken_ += static_cast<int64_t>(size);
}

bool FileVerifier::TakeFile(const rt::Text& path, int64_t size) {
  rt::OpenedFile file(rt::OpenFile(path, rt::kModeRead, rt::kShareDenyNone));
  if (!file) return size == 0;
  std::vector<std::uint8_t> piece(kReadPiece);
  // Bounded by `size`: every round feeds at least one byte or ends.
  while (size > 0) {
    const size_t want = size < static_cast<int64_t>(piece.size()) ? static_cast<size_t>(size) : piece.size();
    const int64_t got = rt::ReadFull(file.get(), piece.data(), want);
    if (got <= 0) return false;
    Take(piece.data(), static_cast<size_t>(got));
    size -= got;
    if (static_cast<size_t>(got) < want) return false;  // the file ended early
  }
  return true;
}

FileVerdict FileVerifier::Finish() {
  FileVerdict verdict;
  const int32_t checksum = checksum_.Result();
  const bool has_digest = entry_.digest.has_value();
  const trust::Sha256Digest sha256 = sha256_.Final();
  const int64_t taken = taken_;
  Restart();
  auto add = [&verdict](const rt::Text& reason) {
    if (!verdict.reason.empty()) verdict.reason += ", ";
    verdict.reason += reason;
  };
  if (has_digest && taken != entry_.digest->size) {
    add("size " + rt::ToText(taken) + " instead of " + rt::ToText(entry_.digest->size));
  }
  // A wrong size already tells the hash differs; it is named only when the
  // size is right.
  if (has_digest && taken == entry_.digest->size && sha256 != entry_.digest->sha256) add("SHA-256 differs");
  if (!entry_.checksum.Matches(checksum)) add("checksum " + rt::ToText(checksum) + " instead of " + entry_.checksum.text());
  verdict.ok = verdict.reason.empty();
  return verdict;
}

}  // namespace app

#include "app/run/file_verifier.h"

#include "runtime/convert.h"

namespace app {
FileVerifier::FileVerifier(const list::PatchEntry& entry) : entry_(entry) {}

FileVerifier::FileVerifier(const list::FileDigest& digest)
    : entry_{rt::Text(), list::ListedChecksum(), digest}, check_checksum_(false) {}

void FileVerifier::Restart() {
  checksum_ = checksum::ChecksumAccumulator();
  sha256_.Init();
  taken_ = 0;
}

void FileVerifier::Take(const std::uint8_t* data, size_t size) {
  if (check_checksum_) checksum_.Feed(data, size);
  if (entry_.digest) sha256_.Update(data, size);
  taken_ += static_cast<int64_t>(size);
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
  if (check_checksum_ && !entry_.checksum.Matches(checksum)) add("checksum " + rt::ToText(checksum) + " instead of " + entry_.checksum.text());
  verdict.ok = verdict.reason.empty();
  return verdict;
}

}  // namespace app

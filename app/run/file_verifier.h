#pragma once
// The check of a downloaded file against its list entry, fed with the file's
// bytes as they arrive, so that the file is never read a second time: its
// size and SHA-256 (when the signed list gave them) and its 32-bit checksum.
// The strong hash decides what may be installed; the checksum is what the
// list has always promised, and still the only check of an unsigned list.
//
// A resumed download feeds the bytes already in the partial file first, then
// what arrives; a download that starts over at byte 0 (a whole answer to a
// Range request) calls Restart first (see FileChain).
#include <cstdint>

#include "checksum/file_checksum.h"
#include "list/file_list.h"
#include "runtime/types.h"
#include "trust/sha256.h"

namespace app {

struct FileVerdict {
  bool ok = false;
  rt::Text reason;  // empty when ok: "size 1234 instead of 1200", "SHA-256 differs", "checksum 55 instead of 77"
};

class FileVerifier {
 public:
  explicit FileVerifier(const list::PatchEntry& entry);
  // A resource known by its size and SHA-256 alone (a form of a file): no
  // checksum to check.
  explicit FileVerifier(const list::FileDigest& digest);

  // The bytes start over at 0.
  void Restart();
  // The next bytes of the file, in order.
  void Take(const std::uint8_t* data, size_t size);
  void Take(const rt::Bytes& data) { Take(data.data(), data.size()); }

  // Bytes fed since the last Restart.
  int64_t taken() const { return taken_; }
  // Whether what was fed is the entry's file, and why not. The verifier then
  // starts over, as after Restart.
  [[nodiscard]] FileVerdict Finish();

 private:
  const list::PatchEntry entry_;  // a copy: the verifier may outlive the list it came from
  const bool check_checksum_ = true;
  checksum::ChecksumAccumulator checksum_;
  trust::Sha256 sha256_;
  int64_t taken_ = 0;
};

}  // namespace app

#pragma once
// Earlier releases of a client's big files, kept by publish on the server
// side as the bases of delta forms:
//
//   SERVER_ROOT/patch/releases/<sha256>.release   a release's bytes, named by content
//   SERVER_ROOT/patch/releases/<N>.txt            per patch folder N, its releases:
//       <sha256 hex>#<size>#<checksum>#<list path>    CR LF, newest first per path
//
// "releases" is no number, so it is no patch folder. Each path keeps its last
// kKeptReleases releases (the current one included); a release file that no
// folder's record names any more is removed. No list names these files, so
// removing one never takes a form from a player.
#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "runtime/types.h"
#include "tools/patchtool/client_tree.h"

namespace patchtool {

inline constexpr char kReleasesFolder[] = "patch/releases/";
inline constexpr char kReleaseSuffix[] = ".release";
inline constexpr char kReleaseRecordSuffix[] = ".txt";
inline constexpr size_t kKeptReleases = 3;

struct Release {
  std::array<std::uint8_t, 32> sha256{};
  int64_t size = 0;
  int32_t checksum = 0;
  bool operator==(const Release& other) const {
    return sha256 == other.sha256 && size == other.size && checksum == other.checksum;
  }
};

class ReleaseStore {
 public:
  // The store of patch folder `folder` (its number as text).
  ReleaseStore(const rt::Text& server_root, const rt::Text& folder);

  // Reads the folder's record (none yet: empty). Lines that do not parse
  // are dropped: the record only saves work, it never decides what players get.
  void Load();
  // The releases of `list_path`, newest first, whose files are on the server.
  [[nodiscard]] std::vector<Release> Of(const rt::Text& list_path) const;
  [[nodiscard]] rt::Text FileOf(const Release& release) const;
  // Makes `release`, the bytes of `source`, the newest of `list_path`, its
  // file copied in unless the store has it; the oldest past kKeptReleases
  // drop out. False when the copy cannot be written.
  [[nodiscard]] bool Add(const rt::Text& list_path, const Release& release, const rt::Text& source);
  // Writes the record, then removes the release files no record names.
  [[nodiscard]] bool Save();
  [[nodiscard]] const rt::Text& folder_path() const { return folder_; }

 private:
  rt::Text folder_;  // disk path, no trailing "/"
  rt::Text record_;
  std::map<rt::Text, std::vector<Release>> releases_;
};

// The record's text, and back.
rt::Bytes FormatReleaseRecord(const std::map<rt::Text, std::vector<Release>>& releases);
std::map<rt::Text, std::vector<Release>> ParseReleaseRecord(const rt::Bytes& bytes);

}  // namespace patchtool

#pragma once
// Where an update comes from: the patch folder "<base URL>patch/<folder
// number>/" on every mirror of the server setting. The one place that builds
// the list's URL and a file's URL (where a file goes: app/client_folder.h).
#include <cstdint>
#include <vector>

#include "net/download_url.h"
#include "runtime/types.h"

namespace app {

// The base URLs of the server setting: ";"-separated, blanks around each
// dropped, empty pieces skipped. One URL gives one mirror.
std::vector<rt::Text> SplitMirrors(const rt::Text& setting);

class PatchSite {
 public:
  PatchSite() = default;
  // `server_setting`: one base URL, or several separated by ";" (mirrors),
  // each ending in "/".
  PatchSite(const rt::Text& server_setting, int32_t patch_folder_number);

  // The base URLs in the order the list is tried; empty when the setting
  // names none (then no list can be had).
  const std::vector<rt::Text>& Mirrors() const { return mirrors_; }
  // The base URL that gave the list, where every file is tried first: the
  // first mirror until the version check has chosen.
  const rt::Text& ServerBaseUrl() const { return server_base_url_; }
  void UseListMirror(const rt::Text& mirror) { server_base_url_ = mirror; }
  // The order a patch file is tried in: ServerBaseUrl, then the other
  // mirrors in their order.
  std::vector<rt::Text> FileMirrorOrder() const;

  int32_t PatchFolderNumber() const { return patch_folder_number_; }

  // The list on `mirror`, not escaped: the system's HTTP client takes it as
  // it is.
  rt::Text ListUrl(const rt::Text& mirror) const;
  // The file of a list entry on `mirror`, as the request asks for it: the
  // entry's "\" separators written as "/" (a GBK trail byte 0x5C is no
  // separator), the whole URL escaped.
  rt::Text FileUrl(const rt::Text& mirror, const rt::Text& entry) const;
  // The same file as the engine takes it: the mirror's patch folder was split
  // once when the site was made, only the entry is added.
  net::DownloadUrl FileTarget(const rt::Text& mirror, const rt::Text& entry) const;

 private:
  std::vector<rt::Text> mirrors_;
  std::vector<net::DownloadUrl> folders_;  // each mirror's patch folder, escaped and split
  rt::Text server_base_url_;
  int32_t patch_folder_number_ = 0;
  rt::Text folder_path_;  // "patch/<folder number>/", below every base URL
};

}  // namespace app

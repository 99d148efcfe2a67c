#pragma once
// Where an update comes from: the patch folder "<base URL>patch/<folder
// number>/" on every mirror of the server setting. The setting is parsed once
// (net::ParseServerSetting) and a mirror is named by its index in it from
// then on. The one place that builds the list's URL and a file's URL (where a
// file goes: list/client_folder.h).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/download_url.h"
#include "net/server_url.h"
#include "runtime/types.h"

namespace app {

class PatchSite {
 public:
  PatchSite() = default;
  // `server_setting`: one base URL, or several separated by ";" (mirrors),
  // each ending in "/". A setting the rule refuses gives no mirror (then no
  // list can be had) and Problem() says why.
  PatchSite(const rt::Text& server_setting, int32_t patch_folder_number);

  // The mirrors in the order the list is tried: indexes 0 .. MirrorCount()-1.
  size_t MirrorCount() const { return mirrors_.size(); }
  // A mirror's base URL as the setting writes it, for the log.
  const rt::Text& MirrorText(size_t mirror) const { return mirrors_[mirror].text; }
  // Why the setting gave no mirror; empty when it gave some.
  const rt::Text& Problem() const { return problem_; }

  // The mirror that gave the list, where every file is tried first: the
  // first mirror until the version check has chosen.
  size_t ListMirror() const { return list_mirror_; }
  void UseListMirror(size_t mirror) { list_mirror_ = mirror; }
  // The order a patch file is tried in: ListMirror, then the other mirrors
  // in their order.
  std::vector<size_t> FileMirrorOrder() const;

  int32_t PatchFolderNumber() const { return patch_folder_number_; }

  // The list on `mirror`, not escaped: the system's HTTP client takes it as
  // it is.
  rt::Text ListUrl(size_t mirror) const;
  // The file of a list entry on `mirror`, as the engine takes it: the
  // entry's "\" separators written as "/" (a GBK trail byte 0x5C is no
  // separator), escaped, below the mirror's patch folder (split once, when
  // the site was made).
  net::DownloadUrl FileTarget(size_t mirror, const rt::Text& entry) const;
  // A form of a file on `mirror`: its name (list/forms.h: only characters
  // that need no escaping) below the mirror's base URL.
  net::DownloadUrl FormTarget(size_t mirror, const rt::Text& name) const;

 private:
  std::vector<net::ServerUrl> mirrors_;
  std::vector<net::DownloadUrl> folders_;  // each mirror's patch folder, its path escaped
  std::vector<net::DownloadUrl> bases_;    // each mirror's base URL, its path escaped
  rt::Text problem_;
  size_t list_mirror_ = 0;
  int32_t patch_folder_number_ = 0;
  rt::Text folder_path_;  // "patch/<folder number>/", below every base URL
};

}  // namespace app

#include "app/patch_site.h"

#include <utility>

#include "list/layout.h"
#include "net/url_escape.h"
#include "runtime/convert.h"
#include "runtime/text.h"

namespace app {

std::vector<rt::Text> SplitMirrors(const rt::Text& setting) {
  std::vector<rt::Text> mirrors;
  for (const rt::Text& piece : rt::SplitText(setting, ";")) {
    rt::Text url = rt::TrimText(piece);
    if (!url.empty()) mirrors.push_back(url);
  }
  return mirrors;
}

PatchSite::PatchSite(const rt::Text& server_setting, int32_t patch_folder_number)
    : mirrors_(SplitMirrors(server_setting)),
      patch_folder_number_(patch_folder_number),
      folder_path_(list::PatchFolder(patch_folder_number)) {
  if (!mirrors_.empty()) server_base_url_ = mirrors_.front();
  for (const rt::Text& mirror : mirrors_) folders_.push_back(net::SplitDownloadUrl(net::EscapeUrl(mirror + folder_path_)));
}

std::vector<rt::Text> PatchSite::FileMirrorOrder() const {
  std::vector<rt::Text> order = {server_base_url_};
  for (const rt::Text& mirror : mirrors_) {
    if (mirror != server_base_url_) order.push_back(mirror);
  }
  return order;
}

rt::Text PatchSite::ListUrl(const rt::Text& mirror) const { return mirror + folder_path_ + list::kListFileName; }

rt::Text PatchSite::FileUrl(const rt::Text& mirror, const rt::Text& entry) const {
  return net::EscapeUrl(mirror + folder_path_ + rt::ReplaceChar(entry, '\\', '/'));
}

// Escaping goes character by character and the folder ends in "/", which
// never belongs to a double-byte character: escaping the entry alone gives the
// same bytes as escaping the whole URL.
net::DownloadUrl PatchSite::FileTarget(const rt::Text& mirror, const rt::Text& entry) const {
  const rt::Text relative = net::EscapeUrl(rt::ReplaceChar(entry, '\\', '/'));
  for (size_t i = 0; i < mirrors_.size(); ++i) {
    if (mirrors_[i] == mirror) return net::UrlBelow(folders_[i], relative);
  }
  return net::SplitDownloadUrl(FileUrl(mirror, entry));
}

}  // namespace app

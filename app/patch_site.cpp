#include "app/patch_site.h"

#include <utility>

#include "list/layout.h"
#include "net/url_escape.h"
#include "runtime/text.h"

namespace app {

// Escaping goes character by character, and the scheme and host (letters,
// digits, "." and "-" only) pass through it unchanged: escaping the path
// alone gives the bytes escaping the whole URL gives. The folder ends in "/",
// which never belongs to a double-byte character, so an entry is escaped
// alone too.
PatchSite::PatchSite(const rt::Text& server_setting, int32_t patch_folder_number)
    : patch_folder_number_(patch_folder_number), folder_path_(list::PatchFolder(patch_folder_number)) {
  net::ServerSetting setting = net::ParseServerSetting(server_setting);
  problem_ = std::move(setting.problem);
  mirrors_ = std::move(setting.mirrors);
  for (const net::ServerUrl& mirror : mirrors_) {
    net::DownloadUrl folder = mirror.base;
    folder.path = net::EscapeUrl(mirror.base.path + folder_path_);
    folders_.push_back(std::move(folder));
    net::DownloadUrl base = mirror.base;
    base.path = net::EscapeUrl(mirror.base.path);
    bases_.push_back(std::move(base));
  }
}

std::vector<size_t> PatchSite::FileMirrorOrder() const {
  std::vector<size_t> order;
  if (list_mirror_ < mirrors_.size()) order.push_back(list_mirror_);
  for (size_t mirror = 0; mirror < mirrors_.size(); ++mirror) {
    if (mirror != list_mirror_) order.push_back(mirror);
  }
  return order;
}

rt::Text PatchSite::ListUrl(size_t mirror) const {
  return mirrors_[mirror].text + folder_path_ + list::kListFileName;
}

net::DownloadUrl PatchSite::FileTarget(size_t mirror, const rt::Text& entry) const {
  return net::UrlBelow(folders_[mirror], net::EscapeUrl(rt::ReplaceChar(entry, '\\', '/')));
}

net::DownloadUrl PatchSite::FormTarget(size_t mirror, const rt::Text& name) const {
  return net::UrlBelow(bases_[mirror], name);
}

}  // namespace app

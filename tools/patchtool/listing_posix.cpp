#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "runtime/encoding.h"
#include "tools/patchtool/listing.h"

namespace patchtool {

bool ListFolder(const rt::Text& folder, std::vector<FolderEntry>* entries) {
  entries->clear();
  const std::string native = rt::GbkToUtf8(folder);
  DIR* dir = ::opendir(native.c_str());
  if (dir == nullptr) return false;
  while (const dirent* item = ::readdir(dir)) {
    if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0) continue;
    FolderEntry entry;
    entry.shown = item->d_name;
    entry.name = rt::Utf8ToGbk(entry.shown, &entry.gbk_ok);
    struct stat st;
    const std::string full = native + "/" + entry.shown;
    if (::stat(full.c_str(), &st) == 0) {
      if (S_ISREG(st.st_mode)) {
        entry.kind = EntryKind::kFile;
        entry.size = static_cast<int64_t>(st.st_size);
      } else if (S_ISDIR(st.st_mode)) {
        entry.kind = EntryKind::kFolder;
      }
    }
    entries->push_back(std::move(entry));
  }
  ::closedir(dir);
  return true;
}

}  // namespace patchtool

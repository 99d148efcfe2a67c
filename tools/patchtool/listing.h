#pragma once
// Listing one folder of the file system.
#include <string>
#include <vector>

#include "runtime/types.h"

namespace patchtool {

enum class EntryKind { kFile, kFolder, kOther };

struct FolderEntry {
  rt::Text name;          // GBK; meaningful only when `gbk_ok`
  bool gbk_ok = true;     // false: the name has a character GBK cannot hold
  std::string shown;      // the name as UTF-8, for messages
  EntryKind kind = EntryKind::kOther;
  int64_t size = 0;       // for files
};

// The entries of `folder` (a GBK path), without "." and "..", in no
// particular order; symbolic links are followed. False when the folder cannot
// be listed.
bool ListFolder(const rt::Text& folder, std::vector<FolderEntry>* entries);

}  // namespace patchtool

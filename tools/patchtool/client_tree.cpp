#include "tools/patchtool/client_tree.h"

#include <algorithm>
#include <map>

#include "checksum/file_checksum.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/list_names.h"
#include "tools/patchtool/listing.h"

namespace patchtool {
namespace {

// Folder levels followed at most: a link loop ends here instead of running on.
constexpr int kMaxDepth = 64;

void Walk(const rt::Text& disk_folder, const rt::Text& list_prefix, const std::string& shown_prefix,
          int depth, ClientTree* tree) {
  std::vector<FolderEntry> entries;
  if (depth > kMaxDepth) {
    tree->errors.push_back("folders nested too deep at " + shown_prefix);
    return;
  }
  if (!ListFolder(disk_folder, &entries)) {
    tree->errors.push_back("cannot list folder " + Shown(disk_folder));
    return;
  }
  const bool top_level = list_prefix.empty();
  for (const FolderEntry& entry : entries) {
    const std::string shown = shown_prefix + entry.shown;
    if (!entry.gbk_ok) {
      tree->errors.push_back("name cannot be written in GBK: " + shown);
      continue;
    }
    if (entry.kind == EntryKind::kFile && IsSkippedName(entry.name, top_level)) continue;
    const std::string reason = UnsafeSegmentReason(entry.name);
    if (!reason.empty()) {
      tree->errors.push_back("name the updater cannot fetch (" + reason + "): " + shown);
      continue;
    }
    const rt::Text disk_path = disk_folder + "/" + entry.name;
    const rt::Text list_path = list_prefix + entry.name;
    switch (entry.kind) {
      case EntryKind::kFolder:
        Walk(disk_path, list_path + "\\", shown + "/", depth + 1, tree);
        break;
      case EntryKind::kFile:
        if (top_level && IsListName(entry.name)) {
          tree->errors.push_back("a client file may not be named like the file list: " + shown);
          break;
        }
        tree->files.push_back(ClientFile{list_path, disk_path, entry.size, 0});
        break;
      case EntryKind::kOther:
        tree->errors.push_back("neither a file nor a folder: " + shown);
        break;
    }
  }
}

}  // namespace

ClientTree ReadClientTree(const rt::Text& client_dir) {
  ClientTree tree;
  rt::Text root = client_dir;
  while (root.size() > 1 && (root.back() == '/' || root.back() == '\\')) root.pop_back();
  Walk(root, rt::Text(), std::string(), 0, &tree);
  std::sort(tree.files.begin(), tree.files.end(),
            [](const ClientFile& a, const ClientFile& b) { return a.list_path < b.list_path; });
  // Windows folds letter case: two such names would be one file there.
  std::map<rt::Text, const ClientFile*> folded;
  for (const ClientFile& file : tree.files) {
    auto [it, fresh] = folded.emplace(FoldCase(file.list_path), &file);
    if (!fresh)
      tree.errors.push_back("names differ only in letter case: " + Shown(it->second->list_path) +
                            " and " + Shown(file.list_path));
  }
  return tree;
}

void ChecksumClientFiles(ClientTree* tree) {
  for (ClientFile& file : tree->files) {
    const std::optional<int32_t> sum = checksum::TryFileChecksumOfFile(file.disk_path);
    if (!sum) {
      tree->errors.push_back("cannot read " + Shown(file.disk_path));
      continue;
    }
    file.checksum = *sum;
  }
}

bool LoadClientTree(const char* command, const rt::Text& client_dir, const char* nothing_done, ClientTree* tree) {
  const std::string prefix = std::string(command) + ": ";
  if (!rt::FolderExists(client_dir)) {
    ReportError(prefix + "no such folder: " + Shown(client_dir));
    return false;
  }
  *tree = ReadClientTree(client_dir);
  if (tree->errors.empty()) ChecksumClientFiles(tree);
  if (!tree->errors.empty()) {
    for (const std::string& error : tree->errors) ReportError(prefix + error);
    ReportError(prefix + nothing_done);
    return false;
  }
  if (tree->files.empty())
    PrintErr("patchtool: " + prefix + "warning: no files; the updater takes an empty list for a failed check");
  return true;
}

rt::Bytes FormatFileList(const std::vector<ClientFile>& files) {
  rt::Text list;
  for (const ClientFile& file : files) list += file.list_path + "#" + rt::ToText(file.checksum) + "\r\n";
  return rt::Bytes(list.begin(), list.end());
}

rt::Text JoinDiskPath(const rt::Text& folder, const rt::Text& list_path) {
  // List paths carry no "\" inside a double-byte character (list_names.h),
  // so a byte-wise replacement is safe.
  rt::Text path = folder;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += "/";
  for (char c : list_path) path += (c == '\\') ? '/' : c;
  return path;
}

}  // namespace patchtool

#include "tools/patchtool/client_tree.h"

#include <algorithm>
#include <map>

#include "checksum/file_checksum.h"
#include "list/entry_names.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/text.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/listing.h"
#include "trust/sha256.h"

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
  for (const FolderEntry& entry : entries) {
    const std::string shown = shown_prefix + entry.shown;
    if (!entry.gbk_ok) {
      tree->errors.push_back("name cannot be written in GBK: " + shown);
      continue;
    }
    const rt::Text disk_path = disk_folder + "/" + entry.name;
    const rt::Text list_path = list_prefix + entry.name;
    // Every name by itself (a "\\" inside a name from disk is no separator);
    // files also by the whole rule of a list path, which may leave them out.
    list::NameCheck check = list::CheckNameSegment(entry.name);
    if (entry.kind == EntryKind::kFile) {
      const list::NameCheck path_check = list::CheckEntryPath(list_path);
      if (list::IsLeftOut(path_check)) continue;
      if (check.ok()) check = path_check;
    }
    if (check.fault == list::NameFault::kListName) {
      tree->errors.push_back("a client file may not be named like the file list: " + shown);
      continue;
    }
    if (!check.ok()) {
      tree->errors.push_back("name the updater cannot fetch (" + list::Reason(check) + "): " + shown);
      continue;
    }
    switch (entry.kind) {
      case EntryKind::kFolder:
        Walk(disk_path, list_path + "\\", shown + "/", depth + 1, tree);
        break;
      case EntryKind::kFile:
        tree->files.push_back(ClientFile{list_path, disk_path, entry.size, 0, std::nullopt});
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
    auto [it, fresh] = folded.emplace(list::FoldCase(file.list_path), &file);
    if (!fresh)
      tree.errors.push_back("names differ only in letter case: " + Shown(it->second->list_path) +
                            " and " + Shown(file.list_path));
  }
  return tree;
}

std::optional<FileHashes> HashFile(const rt::Text& path, bool with_digest, Progress* progress) {
  FileHashes hashes;
  if (!with_digest) {
    // Counted a chunk at a time; the caller's FileDone puts the last one right.
    const std::optional<int32_t> sum = checksum::TryFileChecksumOfFile(path, [progress] {
      if (progress != nullptr) progress->AddBytes(static_cast<int64_t>(checksum::kChecksumChunkSize));
    });
    if (!sum) return std::nullopt;
    hashes.checksum = *sum;
    return hashes;
  }
  rt::OpenedFile file(rt::OpenFile(path, rt::kModeRead, rt::kShareDenyNone));
  if (!file) return std::nullopt;
  checksum::ChecksumAccumulator sum;
  trust::Sha256 sha256;
  std::vector<std::uint8_t> piece(checksum::kChecksumChunkSize);
  int64_t size = 0;
  // Bounded by the file's length: every round reads a piece or ends.
  for (;;) {
    const int64_t got = rt::ReadFull(file.get(), piece.data(), piece.size());
    if (got < 0) return std::nullopt;
    sum.Feed(piece.data(), static_cast<size_t>(got));
    sha256.Update(piece.data(), static_cast<size_t>(got));
    size += got;
    if (progress != nullptr) progress->AddBytes(got);
    if (static_cast<size_t>(got) < piece.size()) break;
  }
  hashes.checksum = sum.Result();
  hashes.digest = list::FileDigest{size, sha256.Final()};
  return hashes;
}

int64_t TotalSize(const std::vector<ClientFile>& files) {
  int64_t total = 0;
  for (const ClientFile& file : files) total += file.size;
  return total;
}

void ChecksumClientFiles(ClientTree* tree, bool with_digest) {
  Progress progress("checksums", static_cast<int64_t>(tree->files.size()), TotalSize(tree->files));
  for (ClientFile& file : tree->files) {
    const std::optional<FileHashes> hashes = HashFile(file.disk_path, with_digest, &progress);
    progress.FileDone(file.size);
    if (!hashes) {
      tree->errors.push_back("cannot read " + Shown(file.disk_path));
      continue;
    }
    file.checksum = hashes->checksum;
    file.digest = hashes->digest;
  }
}

bool LoadClientTree(const char* command, const rt::Text& client_dir, const char* nothing_done, bool with_digest,
                    ClientTree* tree) {
  const std::string prefix = std::string(command) + ": ";
  if (!rt::FolderExists(client_dir)) {
    ReportError(prefix + "no such folder: " + Shown(client_dir));
    return false;
  }
  *tree = ReadClientTree(client_dir);
  if (tree->errors.empty()) ChecksumClientFiles(tree, with_digest);
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
  std::vector<list::PatchEntry> entries;
  entries.reserve(files.size());
  for (const ClientFile& file : files)
    entries.push_back({file.list_path, rt::ToText(file.checksum), file.digest, file.forms});
  return list::FormatFileList(entries);
}

rt::Text JoinDiskPath(const rt::Text& folder, const rt::Text& list_path) {
  rt::Text path = folder;
  const bool ends_in_separator =
      !path.empty() && (path.back() == '/' || rt::FindLastChar(path, '\\') == path.size() - 1);
  if (!path.empty() && !ends_in_separator) path += "/";
  return path + rt::ReplaceChar(list_path, '\\', '/');
}

}  // namespace patchtool

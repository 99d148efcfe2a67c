// patchtool publish CLIENT_DIR SERVER_ROOT [--folder N]
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/delta/delta_format.h"
#include "list/layout.h"
#include "runtime/files.h"
#include "tools/patchtool/client_tree.h"
#include "tools/patchtool/command_line.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/file_copy.h"
#include "tools/patchtool/list_signing.h"
#include "tools/patchtool/publish_forms.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool publish CLIENT_DIR SERVER_ROOT [--folder N] [--segment-bytes N]\n"
    "                        [--sign KEYFILE [--sequence N] [--product NAME] [--expires DAYS]]\n"
    "Lays out SERVER_ROOT/patch/N/ (default N: 528) with the client's files and\n"
    "their filelist.txt, for any static HTTP server. Copies only files whose size\n"
    "or checksum changed, and writes a zstd-compressed copy of each to\n"
    "SERVER_ROOT/patch/forms/ when it is at least 5% smaller (named in the list).\n"
    "A changed file of 1 MiB or more also gets a delta patch there from each of\n"
    "its last 3 releases, kept in SERVER_ROOT/patch/releases/ (delta segments of\n"
    "--segment-bytes, default 64 MiB);\n"
    "the list is replaced last, once every file is in place.";
constexpr char kDefaultFolder[] = "528";
// Suffix of a file while it is being written; renamed into place when whole.
constexpr char kWritingSuffix[] = ".publishing";

bool IsFolderNumber(const rt::Text& text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// True when `target` already holds the file: same size, same checksum, and
// for a signed list the same SHA-256 (the checksum alone can be matched by
// other bytes, which players with a key would then refuse).
bool IsCurrent(const ClientFile& file, const rt::Text& target, Progress* progress) {
  if (rt::FolderExists(target) || rt::FileSize64(target) != file.size) return false;
  const std::optional<FileHashes> hashes = HashFile(target, file.digest.has_value(), progress);
  return hashes && hashes->checksum == file.checksum && hashes->digest == file.digest;
}

// Writes `fresh` beside `target`, then swaps it in, so that the server never
// hands out a half-written file.
bool PublishFile(const ClientFile& file, const rt::Text& target, Progress* progress) {
  const rt::Text writing = target + kWritingSuffix;
  {
    OutputFile out(writing);
    if (!out.is_open() ||
        !out.AppendRange(file.disk_path, 0, file.size, [progress](int64_t bytes) { progress->AddBytes(bytes); })) {
      out.Close();
      rt::RemoveFile(writing);
      return false;
    }
  }
  if (ReplaceFile(writing, target)) return true;
  rt::RemoveFile(writing);
  return false;
}

bool PublishList(const rt::Bytes& list, const rt::Text& target, bool* changed) {
  *changed = rt::FolderExists(target) || rt::FileSize64(target) != static_cast<int64_t>(list.size()) ||
             rt::ReadWholeFile(target) != list;
  if (!*changed) return true;
  const rt::Text writing = target + kWritingSuffix;
  if (!rt::WriteWholeFile(writing, list)) return false;
  return ReplaceFile(writing, target);
}

rt::Text ParentOf(const rt::Text& path) {
  const size_t slash = path.find_last_of('/');
  return slash == rt::Text::npos ? rt::Text() : path.substr(0, slash);
}

}  // namespace

int RunPublish(int argc, char** argv) {
  rt::Text client_dir, server_root, folder = kDefaultFolder, segment_text;
  SignOptions sign;
  switch (ParseArguments("publish", argc, argv, kUsage, std::string(kUsage) + "\n" + kSignUsage,
                         {{"--folder", &folder}, {"--segment-bytes", &segment_text}}, {&client_dir, &server_root}, &sign)) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kHelpShown: return kExitOk;
    case ParseOutcome::kUsageError: return kExitUsage;
  }
  if (client_dir.empty() || server_root.empty()) {
    PrintErr(kUsage);
    return kExitUsage;
  }
  if (!IsFolderNumber(folder)) {
    ReportError("publish: the patch folder must be a number: " + Shown(folder));
    return kExitUsage;
  }
  PublishFormsOptions forms_options;
  if (!segment_text.empty() && (segment_text.size() > 10 || segment_text.find_first_not_of("0123456789") != rt::Text::npos ||
                                std::atoll(segment_text.c_str()) < static_cast<long long>(codec::delta::kMinSegmentBytes) ||
                                std::atoll(segment_text.c_str()) > static_cast<long long>(codec::delta::kMaxSegmentBytes))) {
    ReportError("publish: --segment-bytes must be a number from 4096 to 1073741824: " + Shown(segment_text));
    return kExitUsage;
  }
  if (!segment_text.empty()) forms_options.delta_segment_bytes = static_cast<std::uint64_t>(std::atoll(segment_text.c_str()));
  ClientTree tree;
  if (!LoadClientTree("publish", client_dir, "nothing published", sign.signing(), &tree)) return kExitFailed;
  // The folder the updater reads: its number in decimal, as the build setting
  // is read ("007" is folder 7).
  rt::Text patch_folder = JoinDiskPath(server_root, list::PatchFolder(std::atoi(folder.c_str())));
  patch_folder.pop_back();  // the folder's own "/": messages name it without
  const rt::Text list_target = JoinDiskPath(patch_folder, list::kListFileName);
  // The key is read before anything is copied: a bad key publishes nothing.
  // The list is made again with the forms once they are in place.
  rt::Bytes list;
  // Unless told, the product is the one an updater built for this folder has
  // by default: the folder's number.
  const rt::Text default_product = std::to_string(std::atoi(folder.c_str()));
  if (!MakeList("publish", sign, FormatFileList(tree.files), list_target, UtcToday(), default_product, &list)) {
    return kExitFailed;
  }
  const rt::Bytes replaced = rt::ReadWholeFile(list_target);

  rt::CreateFolderTree(patch_folder);
  if (!rt::FolderExists(patch_folder)) {
    ReportError("publish: cannot create " + Shown(patch_folder));
    return kExitFailed;
  }
  size_t copied = 0;
  std::vector<bool> copied_files(tree.files.size(), false);
  {
    // Each file is compared with the server's copy (read when its size
    // matches) or copied: either way its bytes go by once.
    Progress progress("publish", static_cast<int64_t>(tree.files.size()), TotalSize(tree.files));
    for (size_t i = 0; i < tree.files.size(); ++i) {
      const ClientFile& file = tree.files[i];
      const rt::Text target = JoinDiskPath(patch_folder, file.list_path);
      if (!IsCurrent(file, target, &progress)) {
        progress.RestartFile();  // the copy counts the file's bytes anew
        rt::CreateFolderTree(ParentOf(target));
        if (!PublishFile(file, target, &progress)) {
          ReportError("publish: cannot write " + Shown(target) + "; the old list stays");
          return kExitFailed;
        }
        ++copied;
        copied_files[i] = true;
      }
      progress.FileDone(file.size);
    }
  }
  FormsSummary forms;
  ReleaseStore releases(server_root, std::to_string(std::atoi(folder.c_str())));
  releases.Load();
  if (!PublishForms(server_root, replaced, copied_files, forms_options, &releases, &tree, &forms)) return kExitFailed;
  if (!MakeList("publish", sign, FormatFileList(tree.files), list_target, UtcToday(), default_product, &list)) {
    return kExitFailed;
  }
  bool list_changed = false;
  if (!PublishList(list, list_target, &list_changed)) {
    ReportError("publish: cannot write " + Shown(list_target));
    return kExitFailed;
  }
  // The releases the list now names become the bases of the next publish.
  if (!releases.Save()) {
    ReportError("publish: cannot write the record of releases in " + Shown(releases.folder_path()) +
                "; the next publish makes no delta patches from this release");
    return kExitFailed;
  }
  if (forms.made + forms.kept + forms.not_smaller + forms.deltas > 0) {
    PrintOut("forms: " + std::to_string(forms.made) + " compressed copies made, saving " +
             ByteAmount(forms.saved, forms.saved) + "; " + std::to_string(forms.deltas) +
             " delta patches made, saving " + ByteAmount(forms.delta_saved, forms.delta_saved) + "; " + std::to_string(forms.kept) +
             " kept from the replaced list; " + std::to_string(forms.not_smaller) + " files not worth compressing");
  }
  PrintOut("published " + std::to_string(tree.files.size()) + " files to " + Shown(patch_folder) + ": " +
           std::to_string(copied) + " copied, " + std::to_string(tree.files.size() - copied) +
           " unchanged; list " + (list_changed ? "updated" : "unchanged"));
  if (copied == 0 && !list_changed) PrintOut("nothing to publish: the server already holds this client");
  return kExitOk;
}

}  // namespace patchtool

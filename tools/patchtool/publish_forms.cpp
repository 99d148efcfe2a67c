#include "tools/patchtool/publish_forms.h"

#include <cstdio>
#include <map>
#include <string>

#include "list/file_list.h"
#include "list/layout.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tools/patchtool/compressed_copy.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/progress.h"
#include "trust/signed_list.h"

namespace patchtool {
namespace {

// Suffix of a copy while it is being written.
constexpr char kWritingSuffix[] = ".publishing";

// The replaced list's entries with their digests and forms: read as signed
// when it has hash lines, else as plain.
std::vector<list::PatchEntry> ReplacedEntries(const rt::Bytes& replaced) {
  if (replaced.empty()) return {};
  const rt::Bytes lines = trust::StripSignatureLines(replaced);
  list::FileList read = list::ParseFileList(lines, list::HashLines::kRequired);
  if (!read.usable()) read = list::ParseFileList(lines, list::HashLines::kSkipped);
  return read.entries;
}

// The forms of `old`, an entry of the same content as `file`, whose files
// are still on the server with their sizes.
std::vector<list::FormLine> KeptForms(const list::PatchEntry& old, const ClientFile& file,
                                      const rt::Text& server_root) {
  std::vector<list::FormLine> kept;
  for (const list::FormLine& form : old.forms) {
    if (form.output_size == file.size && rt::FileSize64(JoinDiskPath(server_root, form.name)) == form.size)
      kept.push_back(form);
  }
  return kept;
}

bool HasCopy(const std::vector<list::FormLine>& forms) {
  for (const list::FormLine& form : forms)
    if (form.kind == list::FormKind::kZstd) return true;
  return false;
}

std::string Percent(int64_t part, int64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", whole > 0 ? 100.0 * static_cast<double>(part) / whole : 0.0);
  return text;
}

}  // namespace

bool PublishForms(const rt::Text& server_root, const rt::Bytes& replaced, const std::vector<bool>& copied,
                  ClientTree* tree, FormsSummary* summary) {
  std::map<rt::Text, const list::PatchEntry*> old_entries;
  const std::vector<list::PatchEntry> replaced_entries = ReplacedEntries(replaced);
  for (const list::PatchEntry& entry : replaced_entries) old_entries[entry.path] = &entry;

  std::vector<size_t> to_compress;
  int64_t bytes_to_compress = 0;
  for (size_t i = 0; i < tree->files.size(); ++i) {
    ClientFile& file = tree->files[i];
    const auto old = old_entries.find(file.list_path);
    const bool same_as_listed = old != old_entries.end() && old->second->checksum == rt::ToText(file.checksum) &&
                                old->second->digest == file.digest;
    bool compress = copied[i] || !same_as_listed;
    if (!compress) {
      file.forms = KeptForms(*old->second, file, server_root);
      summary->kept += static_cast<int64_t>(file.forms.size());
      // A copy the replaced list named but the server lost is made again.
      compress = HasCopy(old->second->forms) && !HasCopy(file.forms);
    }
    if (compress && file.size >= kMinCompressedFileSize) {
      to_compress.push_back(i);
      bytes_to_compress += file.size;
    }
  }
  if (to_compress.empty()) return true;

  rt::Text forms_folder = JoinDiskPath(server_root, list::kFormsFolder);
  forms_folder.pop_back();  // its own "/"
  rt::CreateFolderTree(forms_folder);
  if (!rt::FolderExists(forms_folder)) {
    ReportError("publish: cannot create " + Shown(forms_folder));
    return false;
  }
  Compressor compressor;
  PrintOut("compressing " + std::to_string(to_compress.size()) + " files with zstd level " +
           std::to_string(kCompressionLevel) + ", " + std::to_string(compressor.workers()) + " workers");
  Progress progress("compress", static_cast<int64_t>(to_compress.size()), bytes_to_compress);
  for (size_t index : to_compress) {
    ClientFile& file = tree->files[index];
    const rt::Text writing = forms_folder + "/" + std::to_string(index).c_str() + kWritingSuffix;
    const CompressedCopy copy = compressor.Compress(file.disk_path, file.size, writing, forms_folder, &progress);
    progress.FileDone(file.size);
    switch (copy.outcome) {
      case CompressedCopy::Outcome::kFailed:
        ReportError("publish: compressed copy of " + Shown(file.list_path) + ": " + copy.error +
                    "; the old list stays");
        return false;
      case CompressedCopy::Outcome::kNotSmaller:
        ++summary->not_smaller;
        PrintOut("no compressed copy of " + Shown(file.list_path) + ": it would save under " +
                 std::to_string(kMinSavingPercent) + "%");
        break;
      case CompressedCopy::Outcome::kMade:
        ++summary->made;
        summary->saved += file.size - copy.form.size;
        file.forms.push_back(copy.form);
        PrintOut("compressed " + Shown(file.list_path) + ": " + ByteAmount(file.size, file.size) + " to " +
                 ByteAmount(copy.form.size, file.size) + ", saves " + Percent(file.size - copy.form.size, file.size) +
                 " (" + Shown(copy.form.name) + ")");
        break;
    }
  }
  return true;
}

}  // namespace patchtool

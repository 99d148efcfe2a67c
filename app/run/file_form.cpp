#include "app/run/file_form.h"

#include <algorithm>

#include "runtime/convert.h"

namespace app {
namespace {

FileForm WholeFile(const list::PatchEntry& entry) {
  FileForm form;
  form.resource = entry.path;
  form.digest = entry.digest;
  return form;
}

// The local file is the base the delta was made from, as far as its size and
// checksum tell; the patch's segment hashes and the output's check tell the
// rest.
bool BaseIsLocal(const list::FormBase& base, const OutdatedFile& file) {
  return file.local_present && base.size == file.local_size &&
         list::ListedChecksum(base.checksum).Matches(static_cast<int32_t>(file.local_checksum));
}

}  // namespace

rt::Text FileForm::Describe() const {
  const rt::Text bytes = digest ? rt::ToText(digest->size) + " bytes" : rt::Text("unknown size");
  switch (transform) {
    case FormTransform::kNone: return "whole file";
    case FormTransform::kZstd: return "zstd copy of " + bytes;
    case FormTransform::kDelta: return "delta of " + bytes + " from " + rt::ToText(base ? base->size : 0) + " bytes";
  }
  return "unknown form";
}

std::vector<FileForm> FormsToTry(const OutdatedFile& file) {
  const list::PatchEntry& entry = file.entry;
  std::vector<FileForm> forms;
  for (const list::FormLine& line : entry.forms) {
    if (entry.digest && line.output_size != entry.digest->size) continue;
    // A form no smaller than the file saves nothing.
    if (line.size >= line.output_size) continue;
    FileForm form;
    form.resource = line.name;
    form.digest = list::FileDigest{line.size, line.sha256};
    form.output_size = line.output_size;
    if (line.kind == list::FormKind::kZstd) {
      form.transform = FormTransform::kZstd;
    } else {
      if (!line.base || !BaseIsLocal(*line.base, file)) continue;
      form.transform = FormTransform::kDelta;
      form.base = line.base;
    }
    forms.push_back(std::move(form));
  }
  // Smallest first; a tie keeps the list's order.
  std::stable_sort(forms.begin(), forms.end(),
                   [](const FileForm& a, const FileForm& b) { return a.digest->size < b.digest->size; });
  forms.push_back(WholeFile(entry));
  return forms;
}

}  // namespace app

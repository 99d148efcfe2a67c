#pragma once
// The first step of a patch file: the form it travels in. The list may name,
// after an entry, a compressed copy of the file and delta patches from older
// files (list/forms.h). The run tries the forms it can use, the smallest
// first, and the whole file last: a delta only when its base is the local
// file (size and checksum, as the version check read them). A form is a
// resource of its own, with its own size and SHA-256, fetched whole into its
// own partial file and then turned into the file (form_apply.h); the whole
// file is fetched into the file's partial file as it always was.
#include <cstdint>
#include <optional>
#include <vector>

#include "app/check/outdated_file.h"
#include "list/file_list.h"
#include "runtime/types.h"

namespace app {

// How the resource becomes the file.
enum class FormTransform {
  kNone,   // the resource is the file
  kZstd,   // one zstd frame of the file
  kDelta,  // a delta patch applied to the local file
};

struct FileForm {
  FormTransform transform = FormTransform::kNone;
  // The whole file: the entry's path below the mirror's patch folder. A
  // form: its name below the mirror's base URL.
  rt::Text resource;
  std::optional<list::FileDigest> digest;  // the resource's size and SHA-256, when the list gives them
  int64_t output_size = -1;                // a form: the size of the file it yields
  std::optional<list::FormBase> base;      // a delta: the local file it applies to

  bool Whole() const { return transform == FormTransform::kNone; }
  // The size the engine is told to expect, -1 when not known.
  int64_t ExpectedSize() const { return digest ? digest->size : -1; }
  // For the log: "whole file", "zstd copy of 1234 bytes", "delta of 99 bytes from 5678 bytes".
  rt::Text Describe() const;
};

// The forms to try for `file`, in order: those it can use, smallest first,
// then the whole file (always last, always there). A form whose output size
// is not the signed size of the entry, or that is no smaller than the file,
// is left out.
[[nodiscard]] std::vector<FileForm> FormsToTry(const OutdatedFile& file);

}  // namespace app

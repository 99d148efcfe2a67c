#pragma once
// The first step of a patch file: the form it travels in. The resource asked
// for below a mirror has its own expected size and digest, apart from the
// file it yields (the list entry's size, SHA-256 and checksum, which the
// verifier checks): a packed form would differ from the file. Today every
// file travels whole, so the two are equal.
#include <cstdint>
#include <optional>

#include "list/file_list.h"
#include "runtime/types.h"

namespace app {

// How the resource becomes the file.
enum class FormTransform {
  kNone,  // the resource is the file
};

struct FileForm {
  rt::Text resource;                        // the path below the mirror, as listed
  std::optional<list::FileDigest> digest;   // the resource's size and SHA-256, when the list gives them
  FormTransform transform = FormTransform::kNone;

  // The size the engine is told to expect, -1 when not known.
  int64_t ExpectedSize() const { return digest ? digest->size : -1; }
};

// The form to fetch `entry` in: the whole file.
[[nodiscard]] FileForm ChooseForm(const list::PatchEntry& entry);

}  // namespace app

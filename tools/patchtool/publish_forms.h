#pragma once
// publish's forms phase: which of a client's files get which forms on the
// server (list/forms.h), made or kept.
#include <cstdint>
#include <vector>

#include "runtime/types.h"
#include "tools/patchtool/client_tree.h"

namespace patchtool {

struct FormsSummary {
  int64_t made = 0;         // compressed copies made now
  int64_t kept = 0;         // forms kept from the replaced list
  int64_t not_smaller = 0;  // files whose copy would not save enough
  int64_t saved = 0;        // bytes the copies made now save against their files
};

// Fills each file's forms. A file the replaced list (`replaced`, its bytes;
// empty when there was none) names with the same checksum and digest, and
// that was not copied now (`copied`, by index), keeps that list's forms
// whose files are still on the server; every other file of
// kMinCompressedFileSize or more (and one whose listed copy the server lost)
// gets a compressed copy when it saves enough.
// Shows its progress and prints what each copy saves. False, with the
// message shown, when a copy cannot be written.
bool PublishForms(const rt::Text& server_root, const rt::Bytes& replaced, const std::vector<bool>& copied,
                  ClientTree* tree, FormsSummary* summary);

}  // namespace patchtool

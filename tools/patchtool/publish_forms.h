#pragma once
// publish's forms phase: which of a client's files get which forms on the
// server (list/forms.h), made or kept.
#include <cstdint>
#include <vector>

#include "runtime/types.h"
#include "tools/patchtool/client_tree.h"
#include "tools/patchtool/release_store.h"

namespace patchtool {

// Files of this size and more get delta forms from their earlier releases.
inline constexpr int64_t kMinDeltaFileSize = 1 << 20;

struct PublishFormsOptions {
  std::uint64_t delta_segment_bytes = 0;  // 0: the delta format's default
};

struct FormsSummary {
  int64_t made = 0;         // compressed copies made now
  int64_t kept = 0;         // forms kept from the replaced list
  int64_t not_smaller = 0;  // files whose copy would not save enough
  int64_t saved = 0;        // bytes the copies made now save against their files
  int64_t deltas = 0;       // delta patches made now
  int64_t delta_saved = 0;  // bytes they save against their files
};

// Fills each file's forms. A file the replaced list (`replaced`, its bytes;
// empty when there was none) names with the same checksum and digest, and
// that was not copied now (`copied`, by index), keeps that list's forms
// whose files are still on the server; every other file of
// kMinCompressedFileSize or more (and one whose listed copy the server lost)
// gets a compressed copy when it saves enough.
// Every changed file of kMinDeltaFileSize or more gets a delta patch from each
// of its earlier releases kept on the server (release_store.h), when the patch
// is smaller than its other forms; then the new release joins them in
// `releases` (loaded by the caller, who saves it once the list that names the
// release is in place: a release no list named is never a base).
// Shows its progress and prints what each form saves. False, with the
// message shown, when a form cannot be written.
bool PublishForms(const rt::Text& server_root, const rt::Bytes& replaced, const std::vector<bool>& copied,
                  const PublishFormsOptions& options, ReleaseStore* releases, ClientTree* tree,
                  FormsSummary* summary);

}  // namespace patchtool

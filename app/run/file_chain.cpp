#include "app/run/file_chain.h"

#include "list/layout.h"

namespace app {

rt::Text PartialPathOf(const rt::Text& local_path) { return local_path + list::kPartialSuffix; }
rt::Text FormPartialPathOf(const rt::Text& local_path) { return local_path + list::kFormPartialSuffix; }

FileChain::FileChain(const rt::Text& local_path, const list::PatchEntry& entry, bool partial_absent)
    : verifier_(entry), verify_(verifier_), partial_(PartialPathOf(local_path), &verify_, partial_absent) {}

FileChain::FileChain(const rt::Text& local_path, const list::FileDigest& form)
    : verifier_(form), verify_(verifier_), partial_(FormPartialPathOf(local_path), &verify_) {}

}  // namespace app

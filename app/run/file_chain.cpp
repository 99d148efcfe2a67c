#include "app/run/file_chain.h"

#include "list/layout.h"

namespace app {

rt::Text PartialPathOf(const rt::Text& local_path) { return local_path + list::kPartialSuffix; }

// No transform: the partial file is the file, so the verifier follows it.
FileChain::FileChain(const rt::Text& local_path, const list::PatchEntry& entry)
    : verifier_(entry), verify_(verifier_), partial_(PartialPathOf(local_path), &verify_) {}

}  // namespace app

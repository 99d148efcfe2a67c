#include "list/client_folder.h"

#include <utility>

namespace list {

ClientFolder::ClientFolder(rt::Text folder) : folder_(std::move(folder)) {}

rt::Text ClientFolder::Path(const rt::Text& relative) const {
  return folder_.empty() ? relative : folder_ + "\\" + relative;
}

}  // namespace list

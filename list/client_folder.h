#pragma once
// The client folder: the folder of the running updater, which holds the
// client's files and the updater's own working files (update.dat,
// update.log, ...). The one place that says where a file of the client is:
// the start-up, the version check, the download run, the log and the game
// launch all ask it.
#include "runtime/types.h"

namespace list {

class ClientFolder {
 public:
  // The current folder (what the tests use: a scratch folder of their own).
  ClientFolder() = default;
  // A folder's path as the system gives it, without a trailing "\"
  // (rt::RunDirectory: "C:\Games\Zethra", or "C:" for a drive's root).
  explicit ClientFolder(rt::Text folder);

  // The folder as the system's calls take it, without a trailing "\"; empty
  // for the current folder.
  const rt::Text& Folder() const { return folder_; }
  // A file of the client by its path relative to the folder (a list entry
  // with its "\" separators, a working file's name): the folder, "\" and the
  // path; the path alone for the current folder.
  rt::Text Path(const rt::Text& relative) const;

 private:
  rt::Text folder_;
};

}  // namespace list

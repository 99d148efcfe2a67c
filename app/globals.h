#pragma once
// The program's shared globals, one instance each: the updater (app/updater.h)
// owns them, created empty at start and released at the end.
#include <cstdint>
#include <vector>

#include "runtime/thread.h"
#include "runtime/types.h"
#include "ui/download_job.h"

namespace app {

// One entry of the remote list: a path and its checksum text.
struct RemoteRow {
  rt::Text path;
  rt::Text checksum;
};

// A file to fetch: its path relative to the client folder, written with "\"
// as in the list, and the checksum the list gives for it (the download run
// checks the fetched file against it).
struct PatchEntry {
  rt::Text path;
  rt::Text checksum;
};

struct Globals {
  rt::Text RestartProgramName;
  rt::Text GameTitle;
  int32_t PatchFolderNumber = 0;
  rt::Text ServerBaseUrl;
  // Every base URL of the build setting, in order; the version check sets
  // ServerBaseUrl to the one that gave the list. Empty: ServerBaseUrl alone.
  std::vector<rt::Text> ServerMirrors;
  rt::Text LocalBaseFolder;
  // The public key (hex) the remote list must be signed with; empty: the list
  // is read unsigned.
  rt::Text ListPublicKey;
  std::vector<RemoteRow> RemoteFileList;
  std::vector<PatchEntry> PatchList;
  rt::ThreadHandle DownloadThread = 0;
  ui::DownloadJob Job;
};

}  // namespace app

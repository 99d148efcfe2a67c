#pragma once
// The program's shared globals, one instance each: the updater (app/updater.h)
// owns them, created empty at start and released at the end.
#include <vector>

#include "app/checksum_cache.h"
#include "app/patch_site.h"
#include "list/file_list.h"
#include "runtime/thread.h"
#include "runtime/types.h"
#include "ui/download_job.h"

namespace app {

using list::PatchEntry;

struct Globals {
  rt::Text RestartProgramName;
  rt::Text GameTitle;
  // The server's patch folder on each mirror (ServerBaseUrl, the
  // PatchFolderNumber) and the client folder (LocalBaseFolder).
  PatchSite Site;
  // The public key(s) (hex, several separated by ";") the remote list must be
  // signed with; empty: the list is read unsigned.
  rt::Text ListPublicKey;
  // Whether the version check may take unchanged files from the checksum
  // cache (the build setting UPDATER_CHECKSUM_CACHE), and whether this start
  // asked for a full check that reads every file (/verify).
  bool UseChecksumCache = true;
  bool FullCheck = false;
  // The checksum cache: loaded by the version check, added to by the
  // download run as it installs files, written back by both.
  ChecksumCache Checksums;
  // The files to fetch: the list's entries whose local checksum differs.
  std::vector<PatchEntry> PatchList;
  rt::ThreadHandle DownloadThread = 0;
  ui::DownloadJob Job;
};

}  // namespace app

#pragma once
// What the updater's threads share, one instance: the settings the start-up
// fills (the launcher's name, the game title, where updates come from and
// go to, the list keys), the files the download run fetches (the version
// check's outcome, kept by its caller), the progress record the window's
// timer reads, and the checksum cache. The updater (app/updater.h) owns it,
// created empty at start; the names of its fields are those of the
// updater's original shared globals.
#include <vector>

#include "app/check/outdated_file.h"
#include "app/patch_site.h"
#include "checksum_cache/checksum_cache.h"
#include "list/client_folder.h"
#include "list/file_list.h"
#include "runtime/types.h"
#include "ui/download_job.h"

namespace app {

using list::ClientFolder;
using list::PatchEntry;
using sums::ChecksumCache;

struct SharedState {
  rt::Text RestartProgramName;
  rt::Text GameTitle;
  // The server's patch folder on each mirror (PatchFolderNumber), and the
  // mirror that gave the list (ListMirror, set with PatchList).
  PatchSite Site;
  // Where the client is: every file of it is named through Client.
  ClientFolder Client;
  // The public key(s) (hex, several separated by ";") the remote list must be
  // signed with; empty: the list is read unsigned.
  rt::Text ListPublicKey;
  // The product a signed list must name (its "#product#" line), and the name
  // its kept sequence goes under.
  rt::Text ListProduct;
  // Whether the version check may take unchanged files from the checksum
  // cache (the build setting UPDATER_CHECKSUM_CACHE), and whether this start
  // asked for a full check that reads every file (/verify).
  bool UseChecksumCache = true;
  // The most connections the download run opens to one mirror at once (the
  // build setting UPDATER_MOST_CONNECTIONS); the run's transfers bound it too.
  int32_t MostConnections = 6;
  bool FullCheck = false;
  // The checksum cache: loaded by the version check, added to by the
  // download run as it installs files, written back by both.
  ChecksumCache Checksums;
  // The files to fetch: the list's entries whose local checksum differs,
  // each with the local file it replaces. Set before the download run
  // starts; read by it.
  std::vector<OutdatedFile> PatchList;
  ui::DownloadJob Job;
};

}  // namespace app

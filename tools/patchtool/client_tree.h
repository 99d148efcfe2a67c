#pragma once
// The files of a client folder as the server's file list names them.
#include <string>
#include <vector>

#include "runtime/types.h"

namespace patchtool {

struct ClientFile {
  rt::Text list_path;  // relative, "\" between segments, GBK: the list's path
  rt::Text disk_path;  // the file on disk (GBK, for the runtime's file functions)
  int64_t size = 0;
  int32_t checksum = 0;  // filled by ChecksumClientFiles
};

struct ClientTree {
  std::vector<ClientFile> files;    // in byte order of list_path
  std::vector<std::string> errors;  // UTF-8 messages, one per refused name
};

// Walks `client_dir` (GBK) and its sub-folders. Skipped names are left out;
// refused names (see list_names.h), names GBK cannot hold, entries that are
// neither files nor folders, folders that cannot be listed and names that
// differ only in letter case each add an error. Empty folders add nothing.
ClientTree ReadClientTree(const rt::Text& client_dir);

// Fills every file's checksum; an unreadable file adds an error.
void ChecksumClientFiles(ClientTree* tree);

// Reads and checksums the client for `command` ("manifest", "publish"): a
// missing folder or any refused name is reported (ending with
// `nothing_done`) and gives false; an empty client only warns.
bool LoadClientTree(const char* command, const rt::Text& client_dir, const char* nothing_done, ClientTree* tree);

// The file list: one line per file, path "#" checksum, each line ended by
// CR LF, GBK bytes.
rt::Bytes FormatFileList(const std::vector<ClientFile>& files);

// Joins a GBK folder path and a "\"-separated list path for the disk.
rt::Text JoinDiskPath(const rt::Text& folder, const rt::Text& list_path);

}  // namespace patchtool

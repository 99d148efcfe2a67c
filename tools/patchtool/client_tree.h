#pragma once
// The files of a client folder as the server's file list names them.
#include <optional>
#include <string>
#include <vector>

#include "list/file_list.h"
#include "runtime/types.h"
#include "tools/patchtool/progress.h"

namespace patchtool {

struct ClientFile {
  rt::Text list_path;  // relative, "\" between segments, GBK: the list's path
  rt::Text disk_path;  // the file on disk (GBK, for the runtime's file functions)
  int64_t size = 0;
  int32_t checksum = 0;                     // filled by ChecksumClientFiles
  std::optional<list::FileDigest> digest;  // filled by ChecksumClientFiles for a signed list
  std::vector<list::FormLine> forms{};     // filled by publish: its forms on the server
};

struct ClientTree {
  std::vector<ClientFile> files;    // in byte order of list_path
  std::vector<std::string> errors;  // UTF-8 messages, one per refused name
};

// Walks `client_dir` (GBK) and its sub-folders. The names the list's rule
// leaves out (list/entry_names.h) are skipped; refused names, names GBK cannot
// hold, entries that are neither files nor folders, folders that cannot be
// listed and names that differ only in letter case each add an error. Empty
// folders add nothing.
ClientTree ReadClientTree(const rt::Text& client_dir);

// The checksum of a file's content and, when asked for, its size and SHA-256,
// from one read; nothing when the file cannot be read to its end. The bytes
// read are added to `progress` as they go (the caller ends the file there).
struct FileHashes {
  int32_t checksum = 0;
  std::optional<list::FileDigest> digest;
};
std::optional<FileHashes> HashFile(const rt::Text& path, bool with_digest, Progress* progress = nullptr);

// Fills every file's checksum, and its digest when `with_digest` (a signed
// list); an unreadable file adds an error. Shows its progress on a terminal.
void ChecksumClientFiles(ClientTree* tree, bool with_digest);

// The bytes of all the files.
int64_t TotalSize(const std::vector<ClientFile>& files);

// Reads and checksums the client for `command` ("manifest", "publish"): a
// missing folder or any refused name is reported (ending with
// `nothing_done`) and gives false; an empty client only warns.
bool LoadClientTree(const char* command, const rt::Text& client_dir, const char* nothing_done, bool with_digest,
                    ClientTree* tree);

// The file list of the tree (list/file_list.h): the signed form's hash lines
// for the files that have a digest, and each file's form lines.
rt::Bytes FormatFileList(const std::vector<ClientFile>& files);

// Joins a GBK folder path and a "\"-separated list path for the disk (a GBK
// trail byte 0x5C stays part of its character).
rt::Text JoinDiskPath(const rt::Text& folder, const rt::Text& list_path);

}  // namespace patchtool

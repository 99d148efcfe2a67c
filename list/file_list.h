#pragma once
// filelist.txt: its entries, and the one parser and the one writer of it.
//
// The list is GBK text, lines separated by CR LF (a final CR LF optional).
// A line is an entry when it splits at "#" into exactly two pieces (GBK-aware;
// an empty piece after the last "#" does not count): the file's path (see
// entry_names.h) and the signed decimal text of its 32-bit checksum. Every
// other line is skipped. No "<" may occur anywhere: such a text is a server's
// error page.
//
// The signed form (trust/signed_list.h) follows every entry line with the
// file's size and SHA-256:
//
//   <path>#<checksum>                          CR LF
//   #sha256#<size>#<64 lower-case hex digits>  CR LF
//
// the size in decimal bytes (0 .. 2^63-1, no sign, no leading zero). The hash
// line has four "#" fields, so a reader of the plain form skips it like any
// other line that is no entry.
//
// After an entry (and its hash line) may follow its form lines: list/forms.h.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "list/forms.h"
#include "runtime/types.h"

namespace list {

inline constexpr char kHashLinePrefix[] = "#sha256#";
inline constexpr size_t kSha256Bytes = 32;
inline constexpr int64_t kMaxFileSize = INT64_MAX;

// What the signed list binds a file's content to.
struct FileDigest {
  int64_t size = 0;
  std::array<std::uint8_t, kSha256Bytes> sha256{};
  bool operator==(const FileDigest& other) const { return size == other.size && sha256 == other.sha256; }
};

// One entry of the list: a file's path relative to the client folder, written
// with "\" as in the list, the checksum text the list gives for it, and, from
// a signed list, its size and SHA-256, and the forms the list names for it.
// The checksum decides which local files differ; the digest decides what may
// be installed.
struct PatchEntry {
  rt::Text path;
  rt::Text checksum;
  std::optional<FileDigest> digest;
  std::vector<FormLine> forms{};  // in line order
};

// Whether the hash lines are read: the updater with a key requires one after
// every entry; without a key they are lines like any other non-entry.
enum class HashLines { kSkipped, kRequired };

enum class ListFault {
  kNone,
  kEmpty,          // no line at all
  kErrorPage,      // a "<" somewhere
  kUnsafeName,     // an entry's path breaks the name rule
  kMissingHash,    // an entry not followed by its hash line
  kRepeatedHash,   // a second hash line after an entry's
  kMalformedHash,  // a "#sha256#" line that is not size and 64 lower-case hex digits
  kStrayHash,      // a hash line after a line that is no entry
  kMalformedForm,  // a form line of a known kind that breaks its syntax, or
                   // whose output size is not the hash line's size
  kRepeatedForm,   // two forms of one entry with the same kind and base
  kStrayForm,      // a form line not after an entry, its hash line or its forms
};
const char* ToString(ListFault fault);

struct FileList {
  ListFault fault = ListFault::kEmpty;
  std::vector<PatchEntry> entries;  // the entries in line order; none unless usable
  rt::Text refused_path;            // the entry path behind kUnsafeName
  bool usable() const { return fault == ListFault::kNone; }
};

// Reads the list from a response body (up to its first NUL byte). Only the
// entries are kept, counted first and stored once, so a list of many lines
// that are no entries costs no memory beyond its own bytes. An entry with an
// empty path and checksum "0" is let through: a missing file sums to 0, so it
// is never fetched.
[[nodiscard]] FileList ParseFileList(const rt::Bytes& body, HashLines hashes);

// The list of `entries`, each line ended by CR LF, each entry with a digest
// followed by its hash line, then by its form lines.
rt::Bytes FormatFileList(const std::vector<PatchEntry>& entries);

// The hash line of a digest, without its line end, and back; nothing for a
// line that is not exactly that form.
rt::Text HashLine(const FileDigest& digest);
std::optional<FileDigest> ParseHashLine(const rt::Text& line);

}  // namespace list

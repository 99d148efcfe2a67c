#pragma once
// The updater's side of the signed list: the check of a fetched list against
// the build's keys, and the places that keep the highest sequence this client
// accepted, so that an old list, validly signed, cannot roll it back.
//
// The sequence is kept twice: in update.seq beside update.dat (written
// through a temporary file and one atomic replace), and user-wide (the
// registry on Windows, see runtime/user_values.h) under a key named after each
// list key of the build, so that one publisher's sequence is one number for
// every client folder and survives a deleted update.seq. The larger of the
// two counts.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "list/file_list.h"
#include "list/layout.h"
#include "runtime/types.h"
#include "trust/signed_list.h"

namespace app {

using list::kSequenceFileName;

// The sequence kept in the file; 0 when it is missing or does not hold a
// number (the client then accepts any sequence, as on its first run).
std::uint64_t ReadAcceptedSequence(const rt::Text& path);
// Writes the sequence ("<decimal>" CR LF) beside the file and replaces it in
// one step; true on success.
bool WriteAcceptedSequence(const rt::Text& path, std::uint64_t sequence);

// The user-wide place of a key's sequence: the key (a registry path) and the
// value's name.
inline constexpr char kUserSequenceKeyPrefix[] = "Software\\GameClientUpdater\\ListKeys\\";
inline constexpr char kUserSequenceName[] = "Sequence";
rt::Text UserSequenceKey(const trust::PublicKey& key);

// The list keys of the build.
struct ListKeys {
  bool signed_lists = false;           // a key setting was given: only signed lists are read
  std::vector<trust::PublicKey> keys;  // empty with signed_lists: the setting is broken, nothing is trusted
};
ListKeys ParseListKeys(const rt::Text& setting);

using ReadUserValueFn = std::function<std::optional<rt::Text>(const rt::Text& key, const rt::Text& name)>;
using WriteUserValueFn = std::function<bool(const rt::Text& key, const rt::Text& name, const rt::Text& value)>;

// Both places of the highest accepted sequence.
class SequenceKeeper {
 public:
  SequenceKeeper(rt::Text sequence_file, const ListKeys& keys, ReadUserValueFn read, WriteUserValueFn write);
  // The larger of update.seq and the user-wide values of the build's keys.
  std::uint64_t Highest() const;
  // Raises every place that holds less than `sequence`. Failures are silent:
  // the other place still holds it.
  void Keep(std::uint64_t sequence) const;

 private:
  std::optional<std::uint64_t> UserValue(const rt::Text& key) const;

  rt::Text sequence_file_;
  std::vector<rt::Text> user_keys_;
  ReadUserValueFn read_;
  WriteUserValueFn write_;
};

// A fetched list as the updater reads it.
struct CheckedList {
  trust::ListVerdict verdict = trust::ListVerdict::kAccepted;
  list::FileList list;
  std::uint64_t sequence = 0;
  std::optional<std::int64_t> expires;
  bool usable() const { return verdict == trust::ListVerdict::kAccepted && list.usable(); }
  // Why it is not usable, for the log.
  rt::Text Reason() const;
};

// Without keys the body is read as it came (hash lines skipped). With keys it
// must carry a valid signature by one of them, a sequence not below
// `lowest_sequence`, no expiry date before `today` (days since 1970-01-01,
// UTC; a day of grace), and after every entry its hash line; the entries are
// read from the signed bytes only, each with its size and SHA-256.
[[nodiscard]] CheckedList CheckList(const rt::Bytes& body, const ListKeys& keys, std::uint64_t lowest_sequence,
                                    std::int64_t today);

}  // namespace app

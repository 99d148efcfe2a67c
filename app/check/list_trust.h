#pragma once
// The updater's side of the signed list: the check of a fetched list against
// the build's keys, and the places that keep the highest sequence this client
// accepted, so that an old list, validly signed, cannot roll it back.
//
// The sequence is kept per product (the build's, named in every list it
// takes), twice: in update.seq beside update.dat with the product's name
// (written through a temporary file and one atomic replace), and user-wide
// (the registry on Windows, see runtime/user_values.h) under a key named after
// each list key of the build and the product, so that one product's sequence
// is one number for every client folder of it and survives a deleted
// update.seq, while another product signed with the same key keeps its own.
// The larger counts.
//
// Updaters before products kept one number per key, and an update.seq without
// the product's name. A folder whose update.seq is of that form was updated by
// such an updater from lists of this folder's game: there the old per-key
// number still counts, so an upgrade does not reopen a rollback. It stops
// counting once this updater has written update.seq; a folder without one
// (another game's new client) never reads it.
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

// update.seq: "<decimal>" CR LF, then the product's name and CR LF.
struct SequenceFile {
  bool found = false;          // the file holds a number
  std::uint64_t sequence = 0;  // 0 when not found (any sequence is taken, as on a first run)
  rt::Text product;            // empty: written before products
};
SequenceFile ReadSequenceFile(const rt::Text& path);
// The sequence kept in the file, whatever its product; 0 when there is none.
std::uint64_t ReadAcceptedSequence(const rt::Text& path);
// Writes the sequence and the product beside the file and replaces it in one
// step; true on success.
bool WriteAcceptedSequence(const rt::Text& path, std::uint64_t sequence, const rt::Text& product);

// The user-wide place of a product's sequence: the key (a registry path,
// below the list key's) and the value's name. The list key's own place is
// where updaters before products kept it.
inline constexpr char kUserSequenceKeyPrefix[] = "Software\\GameClientUpdater\\ListKeys\\";
inline constexpr char kUserSequenceName[] = "Sequence";
rt::Text UserSequenceKey(const trust::PublicKey& key);
rt::Text UserSequenceKey(const trust::PublicKey& key, const rt::Text& product);

// The list keys and the product of the build.
struct ListKeys {
  bool signed_lists = false;           // a key setting was given: only signed lists are read
  std::vector<trust::PublicKey> keys;  // empty with signed_lists: the setting is broken, nothing is trusted
  rt::Text product;                    // the product every signed list must name (ParseListKeys
                                       // always sets one; empty: no product check)
};
// Nothing is trusted when the key setting or the product name is broken.
ListKeys ParseListKeys(const rt::Text& setting, const rt::Text& product);

using ReadUserValueFn = std::function<std::optional<rt::Text>(const rt::Text& key, const rt::Text& name)>;
using WriteUserValueFn = std::function<bool(const rt::Text& key, const rt::Text& name, const rt::Text& value)>;

// Both places of the product's highest accepted sequence.
class SequenceKeeper {
 public:
  SequenceKeeper(rt::Text sequence_file, const ListKeys& keys, ReadUserValueFn read, WriteUserValueFn write);
  // The largest of update.seq (when it is this product's or from before
  // products), the user-wide values of the product under the build's keys,
  // and, in a folder whose update.seq is from before products, the keys' own.
  std::uint64_t Highest() const;
  // Raises every place that holds less than `sequence`. Failures are silent:
  // the other place still holds it.
  void Keep(std::uint64_t sequence) const;

 private:
  std::optional<std::uint64_t> UserValue(const rt::Text& key) const;

  rt::Text sequence_file_;
  rt::Text product_;
  std::vector<rt::Text> user_keys_;    // the product's places
  std::vector<rt::Text> legacy_keys_;  // the keys' own, from before products
  ReadUserValueFn read_;
  WriteUserValueFn write_;
};

// A fetched list as the updater reads it.
struct CheckedList {
  trust::ListVerdict verdict = trust::ListVerdict::kAccepted;
  list::FileList list;
  std::uint64_t sequence = 0;
  std::optional<std::int64_t> expires;
  rt::Text product;  // the list's product line
  rt::Text wanted;   // the build's product
  bool usable() const { return verdict == trust::ListVerdict::kAccepted && list.usable(); }
  // Why it is not usable, for the log.
  rt::Text Reason() const;
};

// Without keys the body is read as it came (hash lines skipped). With keys it
// must carry a valid signature by one of them, the build's product, a
// sequence not below
// `lowest_sequence`, no expiry date before `today` (days since 1970-01-01,
// UTC; a day of grace), and after every entry its hash line; the entries are
// read from the signed bytes only, each with its size and SHA-256.
[[nodiscard]] CheckedList CheckList(const rt::Bytes& body, const ListKeys& keys, std::uint64_t lowest_sequence,
                                    std::int64_t today);

}  // namespace app

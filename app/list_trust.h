#pragma once
// The updater's side of the signed list: the check against the built-in key
// and the state file that keeps the highest sequence this client accepted, so
// that an old list, validly signed, cannot roll the client back.
#include <cstdint>

#include "runtime/types.h"
#include "trust/signed_list.h"

namespace app {

// The state file beside update.dat: the sequence in decimal and CR LF.
inline constexpr char kSequenceFileName[] = "update.seq";

// The sequence kept in the file; 0 when it is missing or does not hold a
// number (the client then accepts any sequence, as on its first run).
std::uint64_t ReadAcceptedSequence(const rt::Text& path);
// Writes the sequence; true on success.
bool WriteAcceptedSequence(const rt::Text& path, std::uint64_t sequence);

struct ListTrust {
  bool trusted = false;
  trust::ListVerdict verdict = trust::ListVerdict::kAccepted;
  std::uint64_t sequence = 0;
  rt::Bytes body;  // what the entries are read from: with a key, the signed bytes only
};

// With an empty key the body is taken as it came. With a key, the body must
// pass the signature check with a sequence not below the one in
// `sequence_file`; a key that is not 64 hex digits trusts nothing.
ListTrust CheckListTrust(const rt::Bytes& body, const rt::Text& key_hex, const rt::Text& sequence_file);

// After a trusted list has been accepted: keeps its sequence when it is higher
// than the one kept. Nothing to do without a key.
void RememberListSequence(const ListTrust& list, const rt::Text& key_hex, const rt::Text& sequence_file);

}  // namespace app

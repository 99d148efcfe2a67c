#pragma once
// The signed form of filelist.txt, and its check.
//
// A signed list is still a plain list for every reader: the two lines it adds
// have three "#"-separated fields, which the list check skips (an entry has
// exactly two), so an updater built without a key reads it as before.
//
//   #sequence#<decimal>            CR LF   (one such line, anywhere before the signature)
//   #expires#<YYYY-MM-DD>          CR LF   (optional, at most one: the last UTC day it is good for)
//   <path>#<checksum>              CR LF   (the entries, as ever, each followed by
//   #sha256#<size>#<64 hex digits> CR LF    its hash line: list/file_list.h,
//   #form#...                      CR LF    and its form lines: list/forms.h)
//   #ed25519#<128 hex digits>      CR LF   (the last line)
//
// The signature is Ed25519 over every byte of the list before its own line,
// so list and signature travel in one file and a cache cannot serve them
// apart. The sequence numbers the release: a client never accepts a lower one
// than it accepted before, so an old (validly signed) list cannot be replayed
// to roll it back. A list with an expiry date is refused once the date has
// passed, so a mirror frozen on an old release cannot hold players on it
// forever; a player clock a day ahead is tolerated.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "runtime/types.h"

namespace trust {

inline constexpr char kSignaturePrefix[] = "#ed25519#";
inline constexpr char kSequencePrefix[] = "#sequence#";
inline constexpr char kExpiresPrefix[] = "#expires#";
inline constexpr char kLineEnd[] = "\r\n";

constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSignatureBytes = 64;
// Longest sequence accepted: 19 decimal digits always fit 64 bits.
constexpr size_t kMaxSequenceDigits = 19;
constexpr std::uint64_t kMaxSequence = 9999999999999999999ULL;
// Days past its expiry date a list is still taken: a player clock a day ahead
// of UTC (a time zone, a clock set by hand) must not refuse a good list.
constexpr std::int64_t kExpiryGraceDays = 1;

using PublicKey = std::array<std::uint8_t, kPublicKeyBytes>;

// A public key written as the build setting takes it: exactly 64 hex digits,
// either letter case. Anything else gives nothing.
std::optional<PublicKey> ParsePublicKey(const rt::Text& hex);
// The key setting: one or more keys separated by ";" (blanks around each
// dropped). Nothing when a piece is not a key or there is none.
std::optional<std::vector<PublicKey>> ParsePublicKeys(const rt::Text& setting);

// Days since 1970-01-01 of a "YYYY-MM-DD" date (years 1970-9999, a real day
// of the month), and back.
std::optional<std::int64_t> ParseDate(const rt::Text& text);
rt::Text DateText(std::int64_t day);

// Lower-case hex digits of a byte run.
rt::Text HexText(const std::uint8_t* data, size_t size);
// Decodes exactly size * 2 hex digits into `out`; false on anything else.
bool ParseHex(const rt::Text& hex, std::uint8_t* out, size_t size);

enum class ListVerdict {
  kAccepted,
  kNoSignature,         // no signature line anywhere
  kSignatureNotLast,    // a signature line, but not as the last line
  kMalformedSignature,  // the last line is not "#ed25519#" + 128 hex digits + CR LF
  kBadSignature,        // not a signature by the key over the bytes before its line
  kNoSequence,          // the signed bytes have no "#sequence#" line
  kMalformedSequence,   // two sequence lines, or one that is not a decimal number
  kOlderSequence,       // lower than the highest sequence accepted before
  kMalformedExpiry,     // two expiry lines, or one that is not a date
  kExpired,             // past its expiry date (and the grace day)
  // The entries' hash lines (list/file_list.h), checked with the entries.
  kMissingFileHash,    // an entry without its hash line
  kRepeatedFileHash,   // an entry with two
  kMalformedFileHash,  // a hash line that is not size and 64 lower-case hex digits
  kStrayFileHash,      // a hash line after a line that is no entry
  // The entries' form lines (list/forms.h), checked the same way.
  kMalformedFileForm,  // a form line that breaks its syntax, or names another output size
  kRepeatedFileForm,   // two forms of one entry with the same kind and base
  kStrayFileForm,      // a form line that follows no entry
};
const char* ToString(ListVerdict verdict);

struct ListCheck {
  ListVerdict verdict = ListVerdict::kNoSignature;
  std::uint64_t sequence = 0;  // the list's sequence, when it could be read
  size_t signed_size = 0;      // bytes before the signature line
  std::optional<std::int64_t> expires;  // the expiry day, when the list has one
};

struct ListCheckOptions {
  std::uint64_t lowest_sequence = 0;   // the highest sequence accepted before
  std::optional<std::int64_t> today;   // days since 1970-01-01 (UTC); nothing: no expiry check
};

// Checks a list as the updater does before it reads one entry: its last line
// must be a valid signature by one of `keys` over the bytes before it, its
// sequence must not be below the lowest one, and it must not have expired.
[[nodiscard]] ListCheck CheckSignedList(const rt::Bytes& list, const std::vector<PublicKey>& keys,
                                        const ListCheckOptions& options);
// The same with one key and no expiry check.
[[nodiscard]] ListCheck CheckSignedList(const rt::Bytes& list, const PublicKey& key,
                                        std::uint64_t lowest_sequence);

// The sequence line of a list, read without checking the signature (patchtool
// numbers the next release from the list it replaces). Nothing when the list
// has no single well-formed sequence line.
std::optional<std::uint64_t> ListSequence(const rt::Bytes& list);
// The expiry day of a list, read the same way; nothing when it has none.
std::optional<std::int64_t> ListExpiry(const rt::Bytes& list);

// The list without its sequence, expiry and signature lines (the entries and
// their hash lines stay).
rt::Bytes StripSignatureLines(const rt::Bytes& list);

}  // namespace trust

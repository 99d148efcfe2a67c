#pragma once
// The signed form of filelist.txt, and its check.
//
// A signed list is still a plain list for every reader: the two lines it adds
// have three "#"-separated fields, which the list check skips (an entry has
// exactly two), so an updater built without a key reads it as before.
//
//   #sequence#<decimal>            CR LF   (one such line, anywhere before the signature)
//   <path>#<checksum>              CR LF   (the entries, as ever)
//   #ed25519#<128 hex digits>      CR LF   (the last line)
//
// The signature is Ed25519 over every byte of the list before its own line,
// so list and signature travel in one file and a cache cannot serve them
// apart. The sequence numbers the release: a client never accepts a lower one
// than it accepted before, so an old (validly signed) list cannot be replayed
// to roll it back.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "runtime/types.h"

namespace trust {

inline constexpr char kSignaturePrefix[] = "#ed25519#";
inline constexpr char kSequencePrefix[] = "#sequence#";
inline constexpr char kLineEnd[] = "\r\n";

constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSignatureBytes = 64;
// Longest sequence accepted: 19 decimal digits always fit 64 bits.
constexpr size_t kMaxSequenceDigits = 19;
constexpr std::uint64_t kMaxSequence = 9999999999999999999ULL;

using PublicKey = std::array<std::uint8_t, kPublicKeyBytes>;

// A public key written as the build setting takes it: exactly 64 hex digits,
// either letter case. Anything else gives nothing.
std::optional<PublicKey> ParsePublicKey(const rt::Text& hex);

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
};
const char* ToString(ListVerdict verdict);

struct ListCheck {
  ListVerdict verdict = ListVerdict::kNoSignature;
  std::uint64_t sequence = 0;  // the list's sequence, when it could be read
  size_t signed_size = 0;      // bytes before the signature line
};

// Checks a list as the updater does before it reads one entry: its last line
// must be a valid signature by `key` over the bytes before it, and its
// sequence must not be below `lowest_sequence`.
[[nodiscard]] ListCheck CheckSignedList(const rt::Bytes& list, const PublicKey& key,
                                        std::uint64_t lowest_sequence);

// The sequence line of a list, read without checking the signature (patchtool
// numbers the next release from the list it replaces). Nothing when the list
// has no single well-formed sequence line.
std::optional<std::uint64_t> ListSequence(const rt::Bytes& list);

// The list without its sequence and signature lines: what patchtool writes for
// an unsigned release.
rt::Bytes StripSignatureLines(const rt::Bytes& list);

}  // namespace trust

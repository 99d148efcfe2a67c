#pragma once
// The --sign, --sequence and --expires options of manifest and publish, and
// the list they write.
#include <cstdint>
#include <optional>

#include "runtime/types.h"

namespace patchtool {

struct SignOptions {
  rt::Text key_file;                      // empty: write the list unsigned
  std::optional<std::uint64_t> sequence;  // empty: one above the replaced list's
  std::optional<std::int64_t> expires_in_days;  // empty: the list never expires
  rt::Text product;                       // empty: the replaced list's, or the command's default
  bool signing() const { return !key_file.empty(); }
};

// Longest validity --expires takes, in days.
inline constexpr std::int64_t kMaxExpiryDays = 36500;

enum class OptionTaken { kNotMine, kTaken, kBad };

// Takes "--sign FILE", "--sequence N", "--expires DAYS" or "--product NAME" at argv[*i]
// (advancing *i past the value). kBad (with a message already shown) for a
// missing or wrong value.
OptionTaken TakeSignOption(const char* command, int argc, char** argv, int* i, SignOptions* options);

// Usage lines for the options.
inline constexpr char kSignUsage[] =
    "  --sign KEYFILE  sign the list with the secret key from patchtool keygen, with\n"
    "                  each file's size and SHA-256; its sequence is one above the one\n"
    "                  in the list it replaces, which must be signed by the same key\n"
    "  --sequence N    with --sign: the sequence to write instead (needed for the first\n"
    "                  signed release and when the replaced list is missing its\n"
    "                  signature or has another key's)\n"
    "  --product NAME  with --sign: the product the list is for, as the updater was\n"
    "                  built (UPDATER_PRODUCT; a-z 0-9 . _ -); default: publish, the\n"
    "                  patch folder's number; manifest, the replaced list's\n"
    "  --expires DAYS  with --sign: updaters refuse the list DAYS days from today (UTC)";

// The list to write in place of the one at `replaced` (which may be missing).
// Unsigned: `entries` as they are. Signed: the signed form, numbered as the
// options say, or one above the replaced list when its signature verifies
// with this key (and refused, asking for --sequence, when it does not or
// there is none: the first signed release). Its product is the options', or
// `default_product` (refused when the replaced list, this key's, names
// another: a product changes only when asked), or the replaced list's, and
// refused when there is none of them. When the entries, the product and the expiry are those
// of the replaced list and no sequence is given, the replaced list is kept as
// it is, so that running publish again changes nothing. `today`: days since
// 1970-01-01 (UTC). False, with the message shown, when the key file, the
// product or the numbering fails.
bool MakeList(const char* command, const SignOptions& options, const rt::Bytes& entries, const rt::Text& replaced,
              std::int64_t today, const rt::Text& default_product, rt::Bytes* list);

// Today as days since 1970-01-01, UTC.
std::int64_t UtcToday();

}  // namespace patchtool

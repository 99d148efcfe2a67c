#pragma once
// The --sign and --sequence options of manifest and publish, and the list
// they write.
#include <cstdint>
#include <optional>

#include "runtime/types.h"

namespace patchtool {

struct SignOptions {
  rt::Text key_file;                      // empty: write the list unsigned
  std::optional<std::uint64_t> sequence;  // empty: one above the replaced list's
};

enum class OptionTaken { kNotMine, kTaken, kBad };

// Takes "--sign FILE" or "--sequence N" at argv[*i] (advancing *i past the
// value). kBad (with a message already shown) for a missing or wrong value.
OptionTaken TakeSignOption(const char* command, int argc, char** argv, int* i, SignOptions* options);

// Usage lines for the two options.
inline constexpr char kSignUsage[] =
    "  --sign KEYFILE  sign the list with the secret key from patchtool keygen; its\n"
    "                  sequence is one above the one in the list it replaces\n"
    "  --sequence N    with --sign: the sequence to write instead";

// The list to write in place of the one at `replaced` (which may be missing).
// Unsigned: `entries` as they are. Signed: the signed form, numbered as the
// options say. When the entries are those of a replaced list that is already
// signed by this key and no sequence is given, the replaced list is kept as
// it is (*unchanged set), so that running publish again changes nothing.
// False, with the message shown, when the key file or the numbering fails.
bool MakeList(const char* command, const SignOptions& options, const rt::Bytes& entries, const rt::Text& replaced,
              rt::Bytes* list);

}  // namespace patchtool

#pragma once
// The forms of a file in the list: other ways to get its content than
// fetching it whole (a compressed copy, a delta patch from an older file),
// each a line after the file's entry (and after its hash line in the signed
// form):
//
//   <path>#<checksum>                                          CR LF  the entry
//   #sha256#<size>#<64 hex digits>                             CR LF  (signed lists)
//   #form#zstd#<output size>#<form size>#<form sha256>#<name>  CR LF
//   #form#delta#<output size>#<form size>#<form sha256>#<name>#<base size>#<base checksum>  CR LF
//
//   kind          "zstd": the whole file as one zstd frame; "delta": a delta
//                 patch applied to the local file (the base)
//   output size   the size of the file the form produces, in decimal bytes:
//                 the bound a decoder may produce (unsigned lists give the
//                 entry no size); in a signed list it equals the hash line's
//   form size     the size of the form itself, decimal bytes
//   form sha256   SHA-256 of the form's own bytes, 64 lower-case hex digits
//   name          where the form lies below the server's base URL (the
//                 folder that holds "patch/"), e.g.
//                 "patch/forms/<form sha256>.zst": lower-case ASCII letters,
//                 digits, "." "-" "_" and "/" between non-empty segments, none
//                 of them "." or "..", at most kMaxFormNameLength bytes
//   base size,    delta only: the size and the list checksum (signed decimal,
//   base checksum as in an entry line) of the local file the patch applies to
//
// Sizes: 0 .. 2^63-1, no sign, no leading zero. A form line has at least
// seven "#" fields, so a list reader that knows no forms skips it like any
// other line that is no entry (an entry has exactly two), and in the signed
// form it is covered by the signature like every line before it.
//
// Rules of the reader (list/file_list.h): a form line belongs to the entry
// before it, with only that entry's hash line and other form lines between;
// a "#form#" line anywhere else is stray; a line of a known kind that breaks
// the syntax is malformed; two forms of one entry with the same kind and base
// are repeated. A line of a kind this reader does not know is skipped, so
// newer kinds can be added without breaking older updaters.
#include <array>
#include <cstdint>
#include <optional>

#include "runtime/types.h"

namespace list {

inline constexpr char kFormLinePrefix[] = "#form#";
inline constexpr char kZstdFormKind[] = "zstd";
inline constexpr char kDeltaFormKind[] = "delta";
inline constexpr size_t kFormHashBytes = 32;
inline constexpr size_t kMaxFormNameLength = 200;

enum class FormKind { kZstd, kDelta };
const char* ToString(FormKind kind);

// The local file a delta applies to: its size and its checksum text as the
// list writes checksums.
struct FormBase {
  int64_t size = 0;
  rt::Text checksum;
  bool operator==(const FormBase& other) const { return size == other.size && checksum == other.checksum; }
};

struct FormLine {
  FormKind kind = FormKind::kZstd;
  int64_t output_size = 0;
  int64_t size = 0;
  std::array<std::uint8_t, kFormHashBytes> sha256{};
  rt::Text name;
  std::optional<FormBase> base;  // deltas only
  bool operator==(const FormLine& other) const {
    return kind == other.kind && output_size == other.output_size && size == other.size &&
           sha256 == other.sha256 && name == other.name && base == other.base;
  }
};

enum class FormRead {
  kForm,         // a form line of a kind this reader knows
  kUnknownKind,  // "#form#" and a kind this reader does not know: skipped
  kMalformed,    // "#form#" and a known kind, but not its syntax
  kNotForm,      // no "#form#" prefix
};

struct FormParse {
  FormRead read = FormRead::kNotForm;
  FormLine form;  // for kForm
};

// One line, without its line end.
[[nodiscard]] FormParse ParseFormLine(const rt::Text& line);
// The line of a form, without its line end; ParseFormLine reads it back.
rt::Text FormatFormLine(const FormLine& form);

// Whether a form name keeps to the syntax above.
[[nodiscard]] bool IsFormName(const rt::Text& name);

// The decimal text of a size in the list: digits only, no sign, no leading
// zero, at most 2^63-1.
std::optional<int64_t> ParseListSize(const rt::Text& digits);

// Lower-case hex digits of a SHA-256, and back (exactly 64 lower-case digits).
rt::Text Sha256Hex(const std::array<std::uint8_t, kFormHashBytes>& hash);
std::optional<std::array<std::uint8_t, kFormHashBytes>> ParseSha256Hex(const rt::Text& hex);

}  // namespace list

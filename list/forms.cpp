#include "list/forms.h"

#include "runtime/convert.h"
#include "runtime/text.h"

#include <vector>

namespace list {
namespace {

constexpr size_t kFormLinePrefixLength = sizeof(kFormLinePrefix) - 1;
constexpr size_t kMaxSizeDigits = 19;  // 2^63-1 has 19
// Fields after "#form#": kind, output size, form size, hash, name (and for a
// delta the base's size and checksum).
constexpr size_t kCommonFields = 5;
constexpr size_t kDeltaFields = kCommonFields + 2;

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

// The signed decimal text of a 32-bit checksum, exactly as entries write it
// ("%d": no plus, no leading zero, no "-0").
bool IsChecksumText(const rt::Text& text) {
  constexpr size_t kMaxChecksumLength = 11;  // "-2147483648"
  if (text.empty() || text.size() > kMaxChecksumLength) return false;
  const bool negative = text[0] == '-';
  if (negative && text.size() == 1) return false;
  int64_t value = 0;
  for (size_t i = negative ? 1 : 0; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  return rt::ToText(static_cast<int32_t>(value)) == text;
}

// The fields of a line split at every "#", empty ones kept.
std::vector<rt::Text> Fields(const rt::Text& text) {
  std::vector<rt::Text> fields;
  size_t start = 0;
  while (true) {
    const size_t mark = text.find('#', start);
    fields.push_back(text.substr(start, mark == rt::Text::npos ? rt::Text::npos : mark - start));
    if (mark == rt::Text::npos) return fields;
    start = mark + 1;
  }
}

}  // namespace

const char* ToString(FormKind kind) {
  switch (kind) {
    case FormKind::kZstd: return kZstdFormKind;
    case FormKind::kDelta: return kDeltaFormKind;
  }
  return "unknown";
}

std::optional<int64_t> ParseListSize(const rt::Text& digits) {
  if (digits.empty() || digits.size() > kMaxSizeDigits || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');  // 19 digits fit 64 bits
  }
  if (value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(value);
}

rt::Text Sha256Hex(const std::array<std::uint8_t, kFormHashBytes>& hash) {
  static constexpr char kDigits[] = "0123456789abcdef";
  rt::Text hex;
  hex.reserve(kFormHashBytes * 2);
  for (std::uint8_t b : hash) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex;
}

std::optional<std::array<std::uint8_t, kFormHashBytes>> ParseSha256Hex(const rt::Text& hex) {
  if (hex.size() != kFormHashBytes * 2) return std::nullopt;
  std::array<std::uint8_t, kFormHashBytes> hash{};
  for (size_t i = 0; i < kFormHashBytes; ++i) {
    const char high = hex[2 * i], low = hex[2 * i + 1];
    // Lower case only: one spelling per hash.
    if ((high >= 'A' && high <= 'F') || (low >= 'A' && low <= 'F')) return std::nullopt;
    const int h = rt::HexDigitValue(high), l = rt::HexDigitValue(low);
    if (h < 0 || l < 0) return std::nullopt;
    hash[i] = static_cast<std::uint8_t>(h << 4 | l);
  }
  return hash;
}

bool IsFormName(const rt::Text& name) {
  if (name.empty() || name.size() > kMaxFormNameLength) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == rt::Text::npos) end = name.size();
    const rt::Text segment = name.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    for (char c : segment)
      if (!IsNameCharacter(c)) return false;
    start = end + 1;
  }
  return true;
}

FormParse ParseFormLine(const rt::Text& line) {
  FormParse parse;
  if (!rt::StartsWith(line, kFormLinePrefix)) return parse;
  const std::vector<rt::Text> fields = Fields(line.substr(kFormLinePrefixLength));
  FormKind kind;
  if (fields[0] == kZstdFormKind) {
    kind = FormKind::kZstd;
  } else if (fields[0] == kDeltaFormKind) {
    kind = FormKind::kDelta;
  } else {
    parse.read = FormRead::kUnknownKind;
    return parse;
  }
  parse.read = FormRead::kMalformed;
  if (fields.size() != (kind == FormKind::kDelta ? kDeltaFields : kCommonFields)) return parse;
  const std::optional<int64_t> output_size = ParseListSize(fields[1]);
  const std::optional<int64_t> size = ParseListSize(fields[2]);
  const std::optional<std::array<std::uint8_t, kFormHashBytes>> hash = ParseSha256Hex(fields[3]);
  if (!output_size || !size || !hash || !IsFormName(fields[4])) return parse;
  FormLine& form = parse.form;
  form.kind = kind;
  form.output_size = *output_size;
  form.size = *size;
  form.sha256 = *hash;
  form.name = fields[4];
  if (kind == FormKind::kDelta) {
    const std::optional<int64_t> base_size = ParseListSize(fields[5]);
    if (!base_size || !IsChecksumText(fields[6])) return parse;
    form.base = FormBase{*base_size, fields[6]};
  }
  parse.read = FormRead::kForm;
  return parse;
}

rt::Text FormatFormLine(const FormLine& form) {
  rt::Text line = rt::Text(kFormLinePrefix) + ToString(form.kind) + "#" + rt::ToText(form.output_size) + "#" +
                  rt::ToText(form.size) + "#" + Sha256Hex(form.sha256) + "#" + form.name;
  if (form.kind == FormKind::kDelta && form.base) line += "#" + rt::ToText(form.base->size) + "#" + form.base->checksum;
  return line;
}

}  // namespace list

#include "trust/signed_list.h"
#include "runtime/text.h"

#include <sodium.h>

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace trust {
namespace {

constexpr size_t kPrefixLength = sizeof(kSignaturePrefix) - 1;
constexpr size_t kSequencePrefixLength = sizeof(kSequencePrefix) - 1;
constexpr size_t kExpiresPrefixLength = sizeof(kExpiresPrefix) - 1;
constexpr size_t kDateLength = 10;  // YYYY-MM-DD
constexpr size_t kLineEndLength = sizeof(kLineEnd) - 1;
// "#ed25519#", the hex signature and CR LF.
constexpr size_t kSignatureLineLength = kPrefixLength + kSignatureBytes * 2 + kLineEndLength;

// The lines of `text` without their CR LF ends; a last piece without an end
// counts as a line when it is not empty. CR LF cannot occur inside a GBK
// character (trail bytes are 0x40 and up), so a byte search splits correctly.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find(kLineEnd, start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + kLineEndLength;
  }
  return lines;
}

std::string_view View(const rt::Bytes& bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

enum class SequenceRead { kNone, kOk, kMalformed };

SequenceRead ReadSequence(std::string_view text, std::uint64_t* out) {
  SequenceRead state = SequenceRead::kNone;
  for (std::string_view line : Lines(text)) {
    if (!rt::StartsWith(line, kSequencePrefix)) continue;
    if (state != SequenceRead::kNone) return SequenceRead::kMalformed;  // two of them
    const std::string_view digits = line.substr(kSequencePrefixLength);
    if (digits.empty() || digits.size() > kMaxSequenceDigits) return SequenceRead::kMalformed;
    std::uint64_t value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return SequenceRead::kMalformed;
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    *out = value;
    state = SequenceRead::kOk;
  }
  return state;
}

enum class ExpiryRead { kNone, kOk, kMalformed };

ExpiryRead ReadExpiry(std::string_view text, std::int64_t* out) {
  ExpiryRead state = ExpiryRead::kNone;
  for (std::string_view line : Lines(text)) {
    if (!rt::StartsWith(line, kExpiresPrefix)) continue;
    if (state != ExpiryRead::kNone) return ExpiryRead::kMalformed;  // two of them
    const std::optional<std::int64_t> day = ParseDate(rt::Text(line.substr(kExpiresPrefixLength)));
    if (!day) return ExpiryRead::kMalformed;
    *out = *day;
    state = ExpiryRead::kOk;
  }
  return state;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar
// (H. Hinnant's days_from_civil), and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

}  // namespace

std::optional<std::int64_t> ParseDate(const rt::Text& text) {
  if (text.size() != kDateLength || text[4] != '-' || text[7] != '-') return std::nullopt;
  unsigned parts[3] = {0, 0, 0};
  const size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
  for (int p = 0; p < 3; ++p) {
    for (size_t i = starts[p]; i < starts[p] + lengths[p]; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      parts[p] = parts[p] * 10 + static_cast<unsigned>(text[i] - '0');
    }
  }
  const unsigned year = parts[0], month = parts[1], day = parts[2];
  if (year < 1970 || month < 1 || month > 12 || day < 1) return std::nullopt;
  static constexpr unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kMonthDays[month - 1] || (month == 2 && day == 29 && !leap)) return std::nullopt;
  return DaysFromCivil(year, month, day);
}

rt::Text DateText(std::int64_t day) {
  std::int64_t year = 0;
  unsigned month = 0, mday = 0;
  CivilFromDays(day, &year, &month, &mday);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(year), month, mday);
  return text;
}

std::optional<std::vector<PublicKey>> ParsePublicKeys(const rt::Text& setting) {
  std::vector<PublicKey> keys;
  size_t start = 0;
  while (start <= setting.size()) {
    size_t end = setting.find(';', start);
    if (end == rt::Text::npos) end = setting.size();
    rt::Text piece = setting.substr(start, end - start);
    while (!piece.empty() && piece.back() == ' ') piece.pop_back();
    while (!piece.empty() && piece.front() == ' ') piece.erase(0, 1);
    if (!piece.empty()) {
      const std::optional<PublicKey> key = ParsePublicKey(piece);
      if (!key) return std::nullopt;
      keys.push_back(*key);
    }
    start = end + 1;
  }
  if (keys.empty()) return std::nullopt;
  return keys;
}

rt::Text HexText(const std::uint8_t* data, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  rt::Text hex;
  hex.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 0x0F];
  }
  return hex;
}

bool ParseHex(const rt::Text& hex, std::uint8_t* out, size_t size) {
  if (hex.size() != size * 2) return false;
  for (size_t i = 0; i < size; ++i) {
    const int high = rt::HexDigitValue(hex[2 * i]);
    const int low = rt::HexDigitValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return true;
}

std::optional<PublicKey> ParsePublicKey(const rt::Text& hex) {
  PublicKey key;
  if (!ParseHex(hex, key.data(), key.size())) return std::nullopt;
  return key;
}

const char* ToString(ListVerdict verdict) {
  switch (verdict) {
    case ListVerdict::kAccepted: return "accepted";
    case ListVerdict::kNoSignature: return "no signature line";
    case ListVerdict::kSignatureNotLast: return "the signature line is not the last line";
    case ListVerdict::kMalformedSignature: return "malformed signature line";
    case ListVerdict::kBadSignature: return "the signature does not match the key and the list";
    case ListVerdict::kNoSequence: return "no sequence line";
    case ListVerdict::kMalformedSequence: return "malformed or repeated sequence line";
    case ListVerdict::kOlderSequence: return "sequence lower than the one accepted before";
    case ListVerdict::kMalformedExpiry: return "malformed or repeated expiry line";
    case ListVerdict::kExpired: return "the list has expired";
    case ListVerdict::kMissingFileHash: return "an entry without its hash line";
    case ListVerdict::kRepeatedFileHash: return "an entry with two hash lines";
    case ListVerdict::kMalformedFileHash: return "a malformed hash line";
    case ListVerdict::kStrayFileHash: return "a hash line after a line that is no entry";
    case ListVerdict::kMalformedFileForm: return "a malformed form line";
    case ListVerdict::kRepeatedFileForm: return "an entry with two forms of one kind and base";
    case ListVerdict::kStrayFileForm: return "a form line that follows no entry";
  }
  return "unknown";
}

ListCheck CheckSignedList(const rt::Bytes& list, const PublicKey& key, std::uint64_t lowest_sequence) {
  ListCheckOptions options;
  options.lowest_sequence = lowest_sequence;
  return CheckSignedList(list, std::vector<PublicKey>{key}, options);
}

ListCheck CheckSignedList(const rt::Bytes& list, const std::vector<PublicKey>& keys, const ListCheckOptions& options) {
  ListCheck check;
  const std::string_view text = View(list);
  // The last line starts after the CR LF before the final one (or at byte 0).
  const bool ended = text.size() >= kLineEndLength &&
                     text.compare(text.size() - kLineEndLength, kLineEndLength, kLineEnd) == 0;
  const std::string_view body = ended ? text.substr(0, text.size() - kLineEndLength) : text;
  const size_t previous_end = body.rfind(kLineEnd);
  const size_t last_start = previous_end == std::string_view::npos ? 0 : previous_end + kLineEndLength;
  const std::string_view last_line = text.substr(last_start);

  if (!rt::StartsWith(last_line, kSignaturePrefix)) {
    check.verdict = ListVerdict::kNoSignature;
    for (std::string_view line : Lines(text)) {
      if (rt::StartsWith(line, kSignaturePrefix)) check.verdict = ListVerdict::kSignatureNotLast;
    }
    return check;
  }
  std::uint8_t signature[kSignatureBytes];
  const rt::Text hex(last_line.substr(kPrefixLength, last_line.size() - kPrefixLength - (ended ? kLineEndLength : 0)));
  if (!ended || last_line.size() != kSignatureLineLength || !ParseHex(hex, signature, kSignatureBytes)) {
    check.verdict = ListVerdict::kMalformedSignature;
    return check;
  }
  check.signed_size = last_start;
  // Verifying needs neither random bytes nor a CPU-specific code path, so it
  // runs without sodium_init(): calling that would link every primitive's
  // SSE/AVX variants into the updater, about 100 KB it never runs.
  bool verified = false;
  for (const PublicKey& key : keys) {
    if (crypto_sign_verify_detached(signature, list.data(), last_start, key.data()) == 0) {
      verified = true;
      break;
    }
  }
  if (!verified) {
    check.verdict = ListVerdict::kBadSignature;
    return check;
  }
  const std::string_view signed_text = text.substr(0, last_start);
  switch (ReadSequence(signed_text, &check.sequence)) {
    case SequenceRead::kNone: check.verdict = ListVerdict::kNoSequence; return check;
    case SequenceRead::kMalformed: check.verdict = ListVerdict::kMalformedSequence; return check;
    case SequenceRead::kOk: break;
  }
  std::int64_t expires = 0;
  switch (ReadExpiry(signed_text, &expires)) {
    case ExpiryRead::kNone: break;
    case ExpiryRead::kMalformed: check.verdict = ListVerdict::kMalformedExpiry; return check;
    case ExpiryRead::kOk: check.expires = expires; break;
  }
  if (check.sequence < options.lowest_sequence) {
    check.verdict = ListVerdict::kOlderSequence;
  } else if (check.expires && options.today && *options.today > *check.expires + kExpiryGraceDays) {
    check.verdict = ListVerdict::kExpired;
  } else {
    check.verdict = ListVerdict::kAccepted;
  }
  return check;
}

std::optional<std::uint64_t> ListSequence(const rt::Bytes& list) {
  std::uint64_t sequence = 0;
  if (ReadSequence(View(list), &sequence) != SequenceRead::kOk) return std::nullopt;
  return sequence;
}

std::optional<std::int64_t> ListExpiry(const rt::Bytes& list) {
  std::int64_t day = 0;
  if (ReadExpiry(View(list), &day) != ExpiryRead::kOk) return std::nullopt;
  return day;
}

rt::Bytes StripSignatureLines(const rt::Bytes& list) {
  rt::Bytes out;
  out.reserve(list.size());
  const std::string_view text = View(list);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(kLineEnd, start);
    end = end == std::string_view::npos ? text.size() : end + kLineEndLength;
    const std::string_view line = text.substr(start, end - start);
    if (!rt::StartsWith(line, kSignaturePrefix) && !rt::StartsWith(line, kSequencePrefix) &&
        !rt::StartsWith(line, kExpiresPrefix)) {
      out.insert(out.end(), list.begin() + static_cast<std::ptrdiff_t>(start),
                 list.begin() + static_cast<std::ptrdiff_t>(end));
    }
    start = end;
  }
  return out;
}

}  // namespace trust

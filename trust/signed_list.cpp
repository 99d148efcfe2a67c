#include "trust/signed_list.h"

#include <sodium.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace trust {
namespace {

constexpr size_t kPrefixLength = sizeof(kSignaturePrefix) - 1;
constexpr size_t kSequencePrefixLength = sizeof(kSequencePrefix) - 1;
constexpr size_t kLineEndLength = sizeof(kLineEnd) - 1;
// "#ed25519#", the hex signature and CR LF.
constexpr size_t kSignatureLineLength = kPrefixLength + kSignatureBytes * 2 + kLineEndLength;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

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
    if (!StartsWith(line, kSequencePrefix)) continue;
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

}  // namespace

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
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
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
  }
  return "unknown";
}

ListCheck CheckSignedList(const rt::Bytes& list, const PublicKey& key, std::uint64_t lowest_sequence) {
  ListCheck check;
  const std::string_view text = View(list);
  // The last line starts after the CR LF before the final one (or at byte 0).
  const bool ended = text.size() >= kLineEndLength &&
                     text.compare(text.size() - kLineEndLength, kLineEndLength, kLineEnd) == 0;
  const std::string_view body = ended ? text.substr(0, text.size() - kLineEndLength) : text;
  const size_t previous_end = body.rfind(kLineEnd);
  const size_t last_start = previous_end == std::string_view::npos ? 0 : previous_end + kLineEndLength;
  const std::string_view last_line = text.substr(last_start);

  if (!StartsWith(last_line, kSignaturePrefix)) {
    check.verdict = ListVerdict::kNoSignature;
    for (std::string_view line : Lines(text)) {
      if (StartsWith(line, kSignaturePrefix)) check.verdict = ListVerdict::kSignatureNotLast;
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
  if (crypto_sign_verify_detached(signature, list.data(), last_start, key.data()) != 0) {
    check.verdict = ListVerdict::kBadSignature;
    return check;
  }
  switch (ReadSequence(text.substr(0, last_start), &check.sequence)) {
    case SequenceRead::kNone: check.verdict = ListVerdict::kNoSequence; return check;
    case SequenceRead::kMalformed: check.verdict = ListVerdict::kMalformedSequence; return check;
    case SequenceRead::kOk: break;
  }
  check.verdict = check.sequence < lowest_sequence ? ListVerdict::kOlderSequence : ListVerdict::kAccepted;
  return check;
}

std::optional<std::uint64_t> ListSequence(const rt::Bytes& list) {
  std::uint64_t sequence = 0;
  if (ReadSequence(View(list), &sequence) != SequenceRead::kOk) return std::nullopt;
  return sequence;
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
    if (!StartsWith(line, kSignaturePrefix) && !StartsWith(line, kSequencePrefix)) {
      out.insert(out.end(), list.begin() + static_cast<std::ptrdiff_t>(start),
                 list.begin() + static_cast<std::ptrdiff_t>(end));
    }
    start = end;
  }
  return out;
}

}  // namespace trust

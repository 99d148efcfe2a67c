// The updater's check of a signed list with its hash lines. The input is the
// list before its signature line; the harness signs it with a fixed test key
// (first input byte odd) or hands it over as it is (even), then checks:
//   - an unsigned input, or one checked against another key, is refused;
//   - an accepted list's entries are, in order, the lines of the signed bytes
//     that are entries, each followed by exactly one well-formed hash line
//     that gives the entry's size and digest (never two, never none);
//   - an accepted list with an expiry date is not past it (and the grace day).
// Reading past the input shows as a sanitizer report.
#include <sodium.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/check/list_trust.h"
#include "list/file_list.h"
#include "runtime/text.h"
#include "tests/fuzz/fuzz_check.h"
#include "trust/signed_list.h"

namespace {

constexpr std::int64_t kToday = 19875;  // 2024-06-01

struct TestKeys {
  unsigned char public_key[crypto_sign_PUBLICKEYBYTES];
  unsigned char secret_key[crypto_sign_SECRETKEYBYTES];
  unsigned char other_public[crypto_sign_PUBLICKEYBYTES];
  unsigned char other_secret[crypto_sign_SECRETKEYBYTES];
  TestKeys() {
    unsigned char seed[crypto_sign_SEEDBYTES] = {1};
    crypto_sign_seed_keypair(public_key, secret_key, seed);
    seed[0] = 2;
    crypto_sign_seed_keypair(other_public, other_secret, seed);
  }
};

app::ListKeys KeysOf(const unsigned char* public_key) {
  app::ListKeys keys;
  keys.signed_lists = true;
  trust::PublicKey key;
  std::copy(public_key, public_key + key.size(), key.begin());
  keys.keys.push_back(key);
  return keys;
}

// The lines of a text as the list reads them: split at CR LF where the CR is
// no trail byte of a GBK pair, an empty last piece dropped.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0, i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      lines.push_back(text.substr(start, i - start));
      i += 2;
      start = i;
    } else {
      i += (static_cast<unsigned char>(text[i]) >= 0x81 && static_cast<unsigned char>(text[i]) <= 0xFE &&
            i + 1 < text.size())
               ? 2
               : 1;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

void CheckAccepted(const std::string& signed_text, const app::CheckedList& checked) {
  const std::vector<list::PatchEntry>& entries = checked.list.entries;
  const std::string text = signed_text.substr(0, signed_text.find('\0'));
  const std::vector<std::string> lines = Lines(text);
  std::size_t next = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (StartsWith(lines[i], list::kHashLinePrefix)) {
      // Only right after an entry, which consumed it below.
      FUZZ_CHECK(false);
    }
    // An entry's line, also with the empty piece after a last "#" that does not count.
    const std::string entry_line = next < entries.size() ? entries[next].path + "#" + entries[next].checksum.text() : "";
    if (next < entries.size() && (lines[i] == entry_line || lines[i] == entry_line + "#")) {
      FUZZ_CHECK(entries[next].digest.has_value());
      FUZZ_CHECK(i + 1 < lines.size());
      FUZZ_CHECK(lines[i + 1] == list::HashLine(*entries[next].digest));
      FUZZ_CHECK(list::ParseHashLine(lines[i + 1]) == entries[next].digest);
      ++i;  // the hash line
      ++next;
    }
  }
  FUZZ_CHECK(next == entries.size());
  if (checked.expires) FUZZ_CHECK(kToday <= *checked.expires + trust::kExpiryGraceDays);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TestKeys keys;
  if (size == 0) return 0;
  const bool sign = (data[0] & 1) != 0;
  rt::Bytes list(data + 1, data + size);
  if (sign) {
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, list.data(), list.size(), keys.secret_key);
    const std::string line = std::string(trust::kSignaturePrefix) + rt::LowerHexOf(signature, sizeof signature) + "\r\n";
    list.insert(list.end(), line.begin(), line.end());
  }
  const app::CheckedList checked = app::CheckList(list, KeysOf(keys.public_key), 0, kToday);
  if (!sign) FUZZ_CHECK(!checked.usable());
  FUZZ_CHECK(!app::CheckList(list, KeysOf(keys.other_public), 0, kToday).usable());
  if (!checked.usable()) {
    FUZZ_CHECK(checked.list.entries.empty() || checked.verdict == trust::ListVerdict::kAccepted);
    return 0;
  }
  CheckAccepted(std::string(data + 1, data + size), checked);
  return 0;
}

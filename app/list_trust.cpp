#include "app/list_trust.h"

#include <string>

#include "runtime/convert.h"
#include "runtime/files.h"

namespace app {

std::uint64_t ReadAcceptedSequence(const rt::Text& path) {
  const rt::Bytes content = rt::ReadWholeFile(path);
  std::uint64_t value = 0;
  size_t digits = 0;
  for (std::uint8_t c : content) {
    if (c == '\r' || c == '\n') break;
    if (c < '0' || c > '9' || ++digits > trust::kMaxSequenceDigits) return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool WriteAcceptedSequence(const rt::Text& path, std::uint64_t sequence) {
  return rt::WriteWholeFile(path, rt::ToBytes(std::to_string(sequence) + "\r\n"));
}

ListTrust CheckListTrust(const rt::Bytes& body, const rt::Text& key_hex, const rt::Text& sequence_file) {
  ListTrust result;
  if (key_hex.empty()) {
    result.trusted = true;
    result.body = body;
    return result;
  }
  const std::optional<trust::PublicKey> key = trust::ParsePublicKey(key_hex);
  if (!key) {
    result.verdict = trust::ListVerdict::kBadSignature;
    return result;
  }
  const trust::ListCheck check = trust::CheckSignedList(body, *key, ReadAcceptedSequence(sequence_file));
  result.verdict = check.verdict;
  result.sequence = check.sequence;
  if (check.verdict != trust::ListVerdict::kAccepted) return result;
  result.trusted = true;
  result.body.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(check.signed_size));
  return result;
}

void RememberListSequence(const ListTrust& list, const rt::Text& key_hex, const rt::Text& sequence_file) {
  if (key_hex.empty() || !list.trusted) return;
  if (list.sequence > ReadAcceptedSequence(sequence_file)) WriteAcceptedSequence(sequence_file, list.sequence);
}

}  // namespace app

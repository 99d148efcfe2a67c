#include "app/check/list_trust.h"

#include <string>
#include <utility>

#include "runtime/convert.h"
#include "runtime/files.h"

namespace app {
namespace {

// The sequence at the start of a text: decimal digits up to CR, LF or the
// end; nothing for anything else or more digits than a sequence has.
std::optional<std::uint64_t> ParseSequenceText(const rt::Text& text) {
  std::uint64_t value = 0;
  size_t digits = 0;
  for (char c : text) {
    if (c == '\r' || c == '\n') break;
    if (c < '0' || c > '9' || ++digits > trust::kMaxSequenceDigits) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (digits == 0) return std::nullopt;
  return value;
}

trust::ListVerdict VerdictOf(list::ListFault fault) {
  switch (fault) {
    case list::ListFault::kMissingHash: return trust::ListVerdict::kMissingFileHash;
    case list::ListFault::kRepeatedHash: return trust::ListVerdict::kRepeatedFileHash;
    case list::ListFault::kMalformedHash: return trust::ListVerdict::kMalformedFileHash;
    case list::ListFault::kStrayHash: return trust::ListVerdict::kStrayFileHash;
    case list::ListFault::kMalformedForm: return trust::ListVerdict::kMalformedFileForm;
    case list::ListFault::kRepeatedForm: return trust::ListVerdict::kRepeatedFileForm;
    case list::ListFault::kStrayForm: return trust::ListVerdict::kStrayFileForm;
    default: return trust::ListVerdict::kAccepted;  // the list's own faults are no signature matter
  }
}

}  // namespace

std::uint64_t ReadAcceptedSequence(const rt::Text& path) {
  const rt::Bytes content = rt::ReadWholeFile(path);
  return ParseSequenceText(rt::Text(content.begin(), content.end())).value_or(0);
}

bool WriteAcceptedSequence(const rt::Text& path, std::uint64_t sequence) {
  // A crash or a full disk while writing leaves the old file whole.
  const rt::Text writing = path + list::kPartialSuffix;
  if (!rt::WriteWholeFile(writing, rt::ToBytes(std::to_string(sequence) + "\r\n"))) {
    rt::RemoveFile(writing);
    return false;
  }
  if (rt::ReplaceFile(writing, path)) return true;
  rt::RemoveFile(writing);
  return false;
}

rt::Text UserSequenceKey(const trust::PublicKey& key) {
  return kUserSequenceKeyPrefix + trust::HexText(key.data(), key.size());
}

ListKeys ParseListKeys(const rt::Text& setting) {
  ListKeys keys;
  keys.signed_lists = !setting.empty();
  if (!keys.signed_lists) return keys;
  if (std::optional<std::vector<trust::PublicKey>> parsed = trust::ParsePublicKeys(setting)) keys.keys = *parsed;
  return keys;
}

SequenceKeeper::SequenceKeeper(rt::Text sequence_file, const ListKeys& keys, ReadUserValueFn read,
                               WriteUserValueFn write)
    : sequence_file_(std::move(sequence_file)), read_(std::move(read)), write_(std::move(write)) {
  for (const trust::PublicKey& key : keys.keys) user_keys_.push_back(UserSequenceKey(key));
}

std::optional<std::uint64_t> SequenceKeeper::UserValue(const rt::Text& key) const {
  if (!read_) return std::nullopt;
  const std::optional<rt::Text> text = read_(key, kUserSequenceName);
  return text ? ParseSequenceText(*text) : std::nullopt;
}

std::uint64_t SequenceKeeper::Highest() const {
  std::uint64_t highest = ReadAcceptedSequence(sequence_file_);
  for (const rt::Text& key : user_keys_) {
    const std::optional<std::uint64_t> value = UserValue(key);
    if (value && *value > highest) highest = *value;
  }
  return highest;
}

void SequenceKeeper::Keep(std::uint64_t sequence) const {
  if (sequence > ReadAcceptedSequence(sequence_file_)) (void)WriteAcceptedSequence(sequence_file_, sequence);
  for (const rt::Text& key : user_keys_) {
    const std::optional<std::uint64_t> value = UserValue(key);
    if (write_ && (!value || *value < sequence)) (void)write_(key, kUserSequenceName, std::to_string(sequence));
  }
}

rt::Text CheckedList::Reason() const {
  if (verdict != trust::ListVerdict::kAccepted) {
    rt::Text reason = trust::ToString(verdict);
    if (verdict == trust::ListVerdict::kExpired && expires) reason += " (" + trust::DateText(*expires) + ")";
    return reason;
  }
  rt::Text reason = list::ToString(list.fault);
  if (list.fault == list::ListFault::kUnsafeName) reason += ": " + list.refused_path;
  return reason;
}

CheckedList CheckList(const rt::Bytes& body, const ListKeys& keys, std::uint64_t lowest_sequence, std::int64_t today) {
  CheckedList checked;
  if (!keys.signed_lists) {
    checked.list = list::ParseFileList(body, list::HashLines::kSkipped);
    return checked;
  }
  if (keys.keys.empty()) {
    checked.verdict = trust::ListVerdict::kBadSignature;
    return checked;
  }
  trust::ListCheckOptions options;
  options.lowest_sequence = lowest_sequence;
  options.today = today;
  const trust::ListCheck check = trust::CheckSignedList(body, keys.keys, options);
  checked.verdict = check.verdict;
  checked.sequence = check.sequence;
  checked.expires = check.expires;
  if (check.verdict != trust::ListVerdict::kAccepted) return checked;
  const rt::Bytes signed_bytes(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(check.signed_size));
  checked.list = list::ParseFileList(signed_bytes, list::HashLines::kRequired);
  checked.verdict = VerdictOf(checked.list.fault);
  if (checked.verdict != trust::ListVerdict::kAccepted) checked.list.entries.clear();
  return checked;
}

}  // namespace app

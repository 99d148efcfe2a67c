#include "tools/patchtool/list_signing.h"

#include <cstring>
#include <string>

#include "runtime/files.h"
#include "tools/patchtool/console.h"
#include "trust/list_keys.h"
#include "trust/signed_list.h"

namespace patchtool {
namespace {

bool ParseSequence(const char* text, std::uint64_t* out) {
  const size_t length = std::strlen(text);
  if (length == 0 || length > trust::kMaxSequenceDigits) return false;
  std::uint64_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  *out = value;
  return true;
}

}  // namespace

OptionTaken TakeSignOption(const char* command, int argc, char** argv, int* i, SignOptions* options) {
  const bool sign = std::strcmp(argv[*i], "--sign") == 0;
  const bool sequence = std::strcmp(argv[*i], "--sequence") == 0;
  if (!sign && !sequence) return OptionTaken::kNotMine;
  if (*i + 1 >= argc) {
    ReportError(std::string(command) + ": " + argv[*i] + " needs a value");
    return OptionTaken::kBad;
  }
  const char* value = argv[++*i];
  if (sign) {
    options->key_file = value;
    return OptionTaken::kTaken;
  }
  std::uint64_t number = 0;
  if (!ParseSequence(value, &number)) {
    ReportError(std::string(command) + ": --sequence takes a decimal number of at most 19 digits: " + Shown(value));
    return OptionTaken::kBad;
  }
  options->sequence = number;
  return OptionTaken::kTaken;
}

bool MakeList(const char* command, const SignOptions& options, const rt::Bytes& entries, const rt::Text& replaced,
              rt::Bytes* list) {
  const std::string who = std::string(command) + ": ";
  if (options.key_file.empty()) {
    if (options.sequence) {
      ReportError(who + "--sequence needs --sign");
      return false;
    }
    *list = entries;
    return true;
  }
  const std::optional<trust::SecretKey> key = trust::ParseSecretKeyFile(rt::ReadWholeFile(options.key_file));
  if (!key) {
    ReportError(who + "cannot read a secret key from " + Shown(options.key_file) + " (made by patchtool keygen)");
    return false;
  }
  const rt::Bytes previous = rt::FolderExists(replaced) ? rt::Bytes() : rt::ReadWholeFile(replaced);
  const std::optional<std::uint64_t> previous_sequence = trust::ListSequence(previous);
  if (!options.sequence && !previous.empty() && trust::StripSignatureLines(previous) == entries &&
      trust::CheckSignedList(previous, trust::PublicKeyOf(*key), 0).verdict == trust::ListVerdict::kAccepted) {
    *list = previous;
    return true;
  }
  std::uint64_t sequence = 1;
  if (options.sequence) {
    sequence = *options.sequence;
    if (previous_sequence && sequence < *previous_sequence) {
      PrintErr("patchtool: warning: sequence " + std::to_string(sequence) + " is below " +
               std::to_string(*previous_sequence) + " of the list it replaces; clients that have that list refuse this one");
    }
  } else if (previous_sequence) {
    if (*previous_sequence >= trust::kMaxSequence) {
      ReportError(who + "the replaced list's sequence cannot go higher; give --sequence");
      return false;
    }
    sequence = *previous_sequence + 1;
  }
  *list = trust::SignList(entries, sequence, *key);
  if (list->empty()) {
    ReportError(who + "signing failed");
    return false;
  }
  return true;
}

}  // namespace patchtool

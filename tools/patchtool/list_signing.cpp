#include "tools/patchtool/list_signing.h"

#include <cstring>
#include <ctime>
#include <string>

#include "runtime/files.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/secret_file.h"
#include "trust/list_keys.h"
#include "trust/signed_list.h"

namespace patchtool {
namespace {

constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;

bool ParseDecimal(const char* text, size_t max_digits, std::uint64_t* out) {
  const size_t length = std::strlen(text);
  if (length == 0 || length > max_digits) return false;
  std::uint64_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  *out = value;
  return true;
}

// The secret key of the file, wiped when this goes.
class SecretKeyHolder {
 public:
  explicit SecretKeyHolder(const rt::Text& path) {
    rt::Bytes content = rt::ReadWholeFile(path);
    key_ = trust::ParseSecretKeyFile(content);
    trust::WipeSecret(&content);
  }
  ~SecretKeyHolder() {
    if (key_) trust::WipeSecret(&*key_);
  }
  SecretKeyHolder(const SecretKeyHolder&) = delete;
  SecretKeyHolder& operator=(const SecretKeyHolder&) = delete;
  const std::optional<trust::SecretKey>& key() const { return key_; }

 private:
  std::optional<trust::SecretKey> key_;
};

}  // namespace

std::int64_t UtcToday() { return static_cast<std::int64_t>(std::time(nullptr)) / kSecondsPerDay; }

OptionTaken TakeSignOption(const char* command, int argc, char** argv, int* i, SignOptions* options) {
  const bool sign = std::strcmp(argv[*i], "--sign") == 0;
  const bool sequence = std::strcmp(argv[*i], "--sequence") == 0;
  const bool expires = std::strcmp(argv[*i], "--expires") == 0;
  const bool product = std::strcmp(argv[*i], "--product") == 0;
  if (!sign && !sequence && !expires && !product) return OptionTaken::kNotMine;
  if (*i + 1 >= argc) {
    ReportError(std::string(command) + ": " + argv[*i] + " needs a value");
    return OptionTaken::kBad;
  }
  const char* value = argv[++*i];
  if (sign) {
    options->key_file = value;
    return OptionTaken::kTaken;
  }
  if (product) {
    if (!trust::IsProductName(value)) {
      ReportError(std::string(command) + ": --product takes 1 to " + std::to_string(trust::kMaxProductLength) +
                  " lower-case letters, digits, '.', '_' or '-': " + Shown(value));
      return OptionTaken::kBad;
    }
    options->product = value;
    return OptionTaken::kTaken;
  }
  std::uint64_t number = 0;
  if (expires) {
    if (!ParseDecimal(value, 5, &number) || number < 1 || number > static_cast<std::uint64_t>(kMaxExpiryDays)) {
      ReportError(std::string(command) + ": --expires takes a number of days from 1 to " +
                  std::to_string(kMaxExpiryDays) + ": " + Shown(value));
      return OptionTaken::kBad;
    }
    options->expires_in_days = static_cast<std::int64_t>(number);
    return OptionTaken::kTaken;
  }
  if (!ParseDecimal(value, trust::kMaxSequenceDigits, &number)) {
    ReportError(std::string(command) + ": --sequence takes a decimal number of at most 19 digits: " + Shown(value));
    return OptionTaken::kBad;
  }
  options->sequence = number;
  return OptionTaken::kTaken;
}

bool MakeList(const char* command, const SignOptions& options, const rt::Bytes& entries, const rt::Text& replaced,
              std::int64_t today, const rt::Text& default_product, rt::Bytes* list) {
  const std::string who = std::string(command) + ": ";
  if (!options.signing()) {
    if (options.sequence || options.expires_in_days || !options.product.empty()) {
      ReportError(who + (options.sequence ? "--sequence" : options.expires_in_days ? "--expires" : "--product") +
                  " needs --sign");
      return false;
    }
    *list = entries;
    return true;
  }
  if (IsReadableByOthers(options.key_file)) {
    PrintErr("patchtool: warning: other users can read the key file " + Shown(options.key_file) +
             "; whoever reads it can sign lists your players accept. Make it readable by you alone.");
  }
  const SecretKeyHolder secret(options.key_file);
  if (!secret.key()) {
    ReportError(who + "cannot read a secret key from " + Shown(options.key_file) + " (made by patchtool keygen)");
    return false;
  }
  const trust::SecretKey& key = *secret.key();
  const std::optional<std::int64_t> expires =
      options.expires_in_days ? std::optional<std::int64_t>(today + *options.expires_in_days) : std::nullopt;

  // The release is numbered from the list it replaces only when that list is
  // this key's own: a number read from a planted or foreign list could push
  // the sequence to its end.
  const bool replacing = rt::FileExists(replaced) && !rt::FolderExists(replaced);
  const rt::Bytes previous = replacing ? rt::ReadWholeFile(replaced) : rt::Bytes();
  const trust::ListCheck previous_check = trust::CheckSignedList(previous, trust::PublicKeyOf(key), 0);
  const bool previous_ours = replacing && previous_check.verdict == trust::ListVerdict::kAccepted;
  // The product changes only when asked: updaters take only their own, so a
  // list of another product in the folder (a mistake, or another game's
  // list planted there) stops an unasked publish.
  const rt::Text previous_product = previous_ours ? previous_check.product : rt::Text();
  rt::Text product = options.product;
  if (product.empty()) {
    if (!previous_product.empty() && !default_product.empty() && previous_product != default_product) {
      ReportError(who + "the list it replaces is for product " + Shown(previous_product) + ", not " +
                  Shown(default_product) + ": give --product " + Shown(previous_product) +
                  " to keep it, or --product NAME to change it (updaters take only their own product)");
      return false;
    }
    product = previous_product.empty() ? default_product : previous_product;
  }
  if (product.empty()) {
    ReportError(who + "--sign needs --product NAME: the product the updater was built for (UPDATER_PRODUCT, "
                      "by default its patch folder number); updaters refuse a list of another product");
    return false;
  }
  if (!previous_product.empty() && product != previous_product) {
    PrintErr("patchtool: warning: the list it replaces is for product " + Shown(previous_product) +
             "; updaters built for that product refuse this one, for " + Shown(product));
  }
  std::uint64_t sequence = 1;
  if (options.sequence) {
    sequence = *options.sequence;
    if (previous_ours && sequence < previous_check.sequence) {
      PrintErr("patchtool: warning: sequence " + std::to_string(sequence) + " is below " +
               std::to_string(previous_check.sequence) +
               " of the list it replaces; clients that have that list refuse this one");
    }
  } else if (!replacing) {
    // Numbered 1 unasked, a first signed release is refused by every player
    // who took a higher number of this key and product before (an earlier
    // server, a list put there by hand): the operator must say.
    ReportError(who + "no list to number this release from at " + Shown(replaced) +
                ": give --sequence N for the first signed release, above the highest sequence your players have "
                "accepted for product " + Shown(product) + " (1 if none ever had a signed list of it); a lower "
                "number is refused by every player who had a higher one");
    return false;
  } else {
    if (!previous_ours) {
      ReportError(who + "the list it replaces, " + Shown(replaced) + ", is not signed by this key (" +
                  trust::ToString(previous_check.verdict) +
                  "); give --sequence N, above the highest sequence your players have");
      return false;
    }
    if (trust::StripSignatureLines(previous) == entries && trust::ListExpiry(previous) == expires &&
        previous_check.product == product) {
      *list = previous;
      return true;
    }
    if (previous_check.sequence >= trust::kMaxSequence) {
      ReportError(who + "the replaced list's sequence cannot go higher; give --sequence");
      return false;
    }
    sequence = previous_check.sequence + 1;
  }
  *list = trust::SignList(entries, sequence, key, expires, product);
  if (list->empty()) {
    ReportError(who + "signing failed");
    return false;
  }
  return true;
}

}  // namespace patchtool

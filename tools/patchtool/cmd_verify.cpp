// patchtool verify LIST --key HEX [--min-sequence N]
#include <string>

#include "runtime/files.h"
#include "tools/patchtool/command_line.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "trust/signed_list.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool verify LIST --key HEX [--min-sequence N]\n"
    "Checks a filelist.txt as an updater built with UPDATER_LIST_PUBLIC_KEY=HEX\n"
    "does: the last line must be a valid signature by that key over the bytes\n"
    "before it, and the sequence not below N (the highest one a client has\n"
    "accepted; default 0). Exit code 0 when it would accept the list, 1 if not.";

}  // namespace

int RunVerify(int argc, char** argv) {
  rt::Text list_path, key_hex, lowest_digits;
  const auto is_sequence = [](const rt::Text& digits) {
    if (digits.empty() || digits.size() > trust::kMaxSequenceDigits ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      ReportError("verify: --min-sequence takes a decimal number: " + Shown(digits));
      return false;
    }
    return true;
  };
  switch (ParseArguments("verify", argc, argv, kUsage, kUsage,
                         {{"--key", &key_hex}, {"--min-sequence", &lowest_digits, is_sequence}}, {&list_path})) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kHelpShown: return kExitOk;
    case ParseOutcome::kUsageError: return kExitUsage;
  }
  const std::uint64_t lowest = lowest_digits.empty() ? 0 : std::stoull(lowest_digits);
  if (list_path.empty() || key_hex.empty()) {
    PrintErr(kUsage);
    return kExitUsage;
  }
  const std::optional<trust::PublicKey> key = trust::ParsePublicKey(key_hex);
  if (!key) {
    ReportError("verify: --key takes the 64 hex digits that keygen printed");
    return kExitUsage;
  }
  if (!rt::FileExists(list_path) || rt::FolderExists(list_path)) {
    ReportError("verify: no file " + Shown(list_path));
    return kExitFailed;
  }
  const trust::ListCheck check = trust::CheckSignedList(rt::ReadWholeFile(list_path), *key, lowest);
  if (check.verdict != trust::ListVerdict::kAccepted) {
    ReportError("verify: " + Shown(list_path) + " refused: " + trust::ToString(check.verdict));
    return kExitFailed;
  }
  PrintOut(Shown(list_path) + ": signature valid, sequence " + std::to_string(check.sequence));
  return kExitOk;
}

}  // namespace patchtool

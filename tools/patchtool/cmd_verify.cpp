// patchtool verify LIST --key HEX [--min-sequence N]
#include <cstring>
#include <string>

#include "runtime/files.h"
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
  rt::Text list_path, key_hex;
  std::uint64_t lowest = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintOut(kUsage);
      return kExitOk;
    }
    if (std::strcmp(argv[i], "--key") == 0 && i + 1 < argc) {
      key_hex = argv[++i];
    } else if (std::strcmp(argv[i], "--min-sequence") == 0 && i + 1 < argc) {
      const std::string digits = argv[++i];
      if (digits.empty() || digits.size() > trust::kMaxSequenceDigits ||
          digits.find_first_not_of("0123456789") != std::string::npos) {
        ReportError("verify: --min-sequence takes a decimal number: " + Shown(digits));
        return kExitUsage;
      }
      lowest = std::stoull(digits);
    } else if (argv[i][0] != '-' && list_path.empty()) {
      list_path = argv[i];
    } else {
      ReportError(std::string("verify: unexpected argument ") + Shown(argv[i]));
      PrintErr(kUsage);
      return kExitUsage;
    }
  }
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

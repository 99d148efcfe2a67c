// patchtool verify LIST --key HEX [--min-sequence N] [--files DIR]
#include <string>

#include "list/file_list.h"
#include "runtime/files.h"
#include "tools/patchtool/client_tree.h"
#include "tools/patchtool/command_line.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/list_signing.h"
#include "trust/signed_list.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool verify LIST --key HEX [--product NAME] [--min-sequence N] [--files DIR]\n"
    "Checks a filelist.txt as an updater built with UPDATER_LIST_PUBLIC_KEY=HEX\n"
    "does (HEX may name several keys separated by \";\"): the last line must be a\n"
    "valid signature by a key over the bytes before it, the product NAME (when\n"
    "given: an updater built with UPDATER_PRODUCT=NAME), the sequence not below N\n"
    "(the highest one a client has accepted; default 0), the list not expired, and\n"
    "every entry followed by its size and SHA-256. With --files, every listed file\n"
    "under DIR (a mirror's patch folder) must have that size and SHA-256; each\n"
    "mismatch is printed. Exit code 0 when all holds, 1 if not.";

std::string ShownDigest(const list::FileDigest& digest) { return std::to_string(digest.size) + " bytes"; }

enum class FileCheck { kMatch, kDiffers, kMissing };

// Checks one entry's file under `dir`, printing what is wrong with it.
FileCheck VerifyFile(const list::PatchEntry& entry, const rt::Text& dir, Progress* progress) {
  const rt::Text path = JoinDiskPath(dir, entry.path);
  if (!rt::FileExists(path) || rt::FolderExists(path)) {
    PrintOut("missing: " + Shown(entry.path));
    return FileCheck::kMissing;
  }
  const std::optional<FileHashes> hashes = HashFile(path, true, progress);
  if (!hashes) {
    PrintOut("unreadable: " + Shown(entry.path));
    return FileCheck::kMissing;
  }
  const list::FileDigest& want = *entry.digest;  // a signed list's entries all have one
  if (hashes->digest->size != want.size) {
    PrintOut("size differs: " + Shown(entry.path) + " (" + ShownDigest(*hashes->digest) + ", the list says " +
             ShownDigest(want) + ")");
    return FileCheck::kDiffers;
  }
  if (hashes->digest->sha256 != want.sha256) {
    PrintOut("SHA-256 differs: " + Shown(entry.path));
    return FileCheck::kDiffers;
  }
  return FileCheck::kMatch;
}

// Checks every entry's file under `dir`; prints each mismatch and a summary.
// True when every file matches.
bool VerifyFiles(const std::vector<list::PatchEntry>& entries, const rt::Text& dir) {
  size_t good = 0, differ = 0, missing = 0;
  {
    int64_t listed_bytes = 0;
    for (const list::PatchEntry& entry : entries) listed_bytes += entry.digest->size;
    Progress progress("verify", static_cast<int64_t>(entries.size()), listed_bytes);
    for (const list::PatchEntry& entry : entries) {
      switch (VerifyFile(entry, dir, &progress)) {
        case FileCheck::kMatch: ++good; break;
        case FileCheck::kDiffers: ++differ; break;
        case FileCheck::kMissing: ++missing; break;
      }
      // The list's size counts as done whatever was found: the line ends at its total.
      progress.FileDone(entry.digest->size);
    }
  }
  PrintOut(std::to_string(entries.size()) + " files checked: " + std::to_string(good) + " match, " +
           std::to_string(differ) + " differ, " + std::to_string(missing) + " missing");
  return differ == 0 && missing == 0;
}

}  // namespace

int RunVerify(int argc, char** argv) {
  rt::Text list_path, key_hex, lowest_digits, files_dir, product;
  const auto is_sequence = [](const rt::Text& digits) {
    if (digits.empty() || digits.size() > trust::kMaxSequenceDigits ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      ReportError("verify: --min-sequence takes a decimal number: " + Shown(digits));
      return false;
    }
    return true;
  };
  switch (ParseArguments("verify", argc, argv, kUsage, kUsage,
                         {{"--key", &key_hex}, {"--product", &product}, {"--min-sequence", &lowest_digits, is_sequence}, {"--files", &files_dir}},
                         {&list_path})) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kHelpShown: return kExitOk;
    case ParseOutcome::kUsageError: return kExitUsage;
  }
  const std::uint64_t lowest = lowest_digits.empty() ? 0 : std::stoull(lowest_digits);
  if (list_path.empty() || key_hex.empty()) {
    PrintErr(kUsage);
    return kExitUsage;
  }
  const std::optional<std::vector<trust::PublicKey>> keys = trust::ParsePublicKeys(key_hex);
  if (!keys) {
    ReportError("verify: --key takes the 64 hex digits that keygen printed");
    return kExitUsage;
  }
  if (!rt::FileExists(list_path) || rt::FolderExists(list_path)) {
    ReportError("verify: no file " + Shown(list_path));
    return kExitFailed;
  }
  if (!files_dir.empty() && !rt::FolderExists(files_dir)) {
    ReportError("verify: no folder " + Shown(files_dir));
    return kExitFailed;
  }
  const rt::Bytes content = rt::ReadWholeFile(list_path);
  trust::ListCheckOptions options;
  options.lowest_sequence = lowest;
  options.today = UtcToday();
  if (!product.empty()) options.product = product;
  const trust::ListCheck check = trust::CheckSignedList(content, *keys, options);
  if (check.verdict != trust::ListVerdict::kAccepted) {
    std::string reason = trust::ToString(check.verdict);
    if (check.verdict == trust::ListVerdict::kExpired) reason += " (" + trust::DateText(*check.expires) + ")";
    if (check.verdict == trust::ListVerdict::kOtherProduct) reason += " (" + Shown(check.product) + ")";
    ReportError("verify: " + Shown(list_path) + " refused: " + reason);
    return kExitFailed;
  }
  const rt::Bytes signed_bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(check.signed_size));
  list::FileList entries = list::ParseFileList(signed_bytes, list::HashLines::kRequired);
  if (!entries.usable()) {
    std::string reason = list::ToString(entries.fault);
    if (entries.fault == list::ListFault::kUnsafeName) reason += ": " + Shown(entries.refused_path);
    ReportError("verify: " + Shown(list_path) + " refused: " + reason);
    return kExitFailed;
  }
  // The updater's rule for one file named twice.
  const list::RepeatCheck repeats = list::JoinRepeatedEntries(&entries.entries);
  if (!repeats.ok()) {
    ReportError("verify: " + Shown(list_path) + " refused: two entries name one file: " + Shown(repeats.conflict));
    return kExitFailed;
  }
  PrintOut(Shown(list_path) + ": signature valid, sequence " + std::to_string(check.sequence) + ", product " +
           (check.product.empty() ? std::string("(none)") : Shown(check.product)) + ", " +
           std::to_string(entries.entries.size()) + " files" +
           (check.expires ? ", expires " + trust::DateText(*check.expires) : std::string()));
  if (!files_dir.empty() && !VerifyFiles(entries.entries, files_dir)) return kExitFailed;
  return kExitOk;
}

}  // namespace patchtool

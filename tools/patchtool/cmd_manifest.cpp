// patchtool manifest CLIENT_DIR [-o FILE]
#include <string>

#include "list/layout.h"
#include "runtime/files.h"
#include "tools/patchtool/client_tree.h"
#include "tools/patchtool/command_line.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/list_signing.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool manifest CLIENT_DIR [-o FILE] [--sign KEYFILE [--sequence N] [--product NAME] [--expires DAYS]]\n"
    "Writes the file list of CLIENT_DIR (default: filelist.txt in the current folder):\n"
    "one line per file, path with \"\\\" separators, \"#\", checksum, CR LF; GBK.\n"
    "Leaves out update.dat, game.dat, update.log, update.seq and update.sums at the\n"
    "top and *.tmp anywhere; refuses names the updater could not fetch. Signed, each\n"
    "entry is followed by a line with the file's size and SHA-256.";

}  // namespace

int RunManifest(int argc, char** argv) {
  rt::Text client_dir;
  rt::Text output = list::kListFileName;
  SignOptions sign;
  switch (ParseArguments("manifest", argc, argv, kUsage, std::string(kUsage) + "\n" + kSignUsage,
                         {{"-o", &output}}, {&client_dir}, &sign)) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kHelpShown: return kExitOk;
    case ParseOutcome::kUsageError: return kExitUsage;
  }
  if (client_dir.empty()) {
    PrintErr(kUsage);
    return kExitUsage;
  }
  ClientTree tree;
  if (!LoadClientTree("manifest", client_dir, "nothing written", sign.signing(), &tree)) return kExitFailed;
  rt::Bytes list;
  // No folder here: the product is the replaced list's, or given.
  if (!MakeList("manifest", sign, FormatFileList(tree.files), output, UtcToday(), rt::Text(), &list)) {
    return kExitFailed;
  }
  if (!rt::WriteWholeFile(output, list)) {
    ReportError("manifest: cannot write " + Shown(output));
    return kExitFailed;
  }
  PrintOut("wrote " + Shown(output) + ": " + std::to_string(tree.files.size()) + " files");
  return kExitOk;
}

}  // namespace patchtool

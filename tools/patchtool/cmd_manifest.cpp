// patchtool manifest CLIENT_DIR [-o FILE]
#include <string>

#include "runtime/files.h"
#include "tools/patchtool/client_tree.h"
#include "tools/patchtool/command_line.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/list_signing.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool manifest CLIENT_DIR [-o FILE] [--sign KEYFILE [--sequence N]]\n"
    "Writes the file list of CLIENT_DIR (default: filelist.txt in the current folder):\n"
    "one line per file, path with \"\\\" separators, \"#\", checksum, CR LF; GBK.\n"
    "Leaves out update.dat, game.dat, update.log and update.seq at the top and *.tmp\n"
    "anywhere; refuses names the updater could not fetch.";

}  // namespace

int RunManifest(int argc, char** argv) {
  rt::Text client_dir;
  rt::Text output = "filelist.txt";
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
  if (!LoadClientTree("manifest", client_dir, "nothing written", &tree)) return kExitFailed;
  rt::Bytes list;
  if (!MakeList("manifest", sign, FormatFileList(tree.files), output, &list)) return kExitFailed;
  if (!rt::WriteWholeFile(output, list)) {
    ReportError("manifest: cannot write " + Shown(output));
    return kExitFailed;
  }
  PrintOut("wrote " + Shown(output) + ": " + std::to_string(tree.files.size()) + " files");
  return kExitOk;
}

}  // namespace patchtool

// patchtool manifest CLIENT_DIR [-o FILE]
#include <cstring>
#include <string>

#include "runtime/files.h"
#include "tools/patchtool/client_tree.h"
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
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintOut(std::string(kUsage) + "\n" + kSignUsage);
      return kExitOk;
    }
    const OptionTaken taken = TakeSignOption("manifest", argc, argv, &i, &sign);
    if (taken == OptionTaken::kBad) return kExitUsage;
    if (taken == OptionTaken::kTaken) continue;
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      output = argv[++i];
    } else if (argv[i][0] == '-' || !client_dir.empty()) {
      ReportError(std::string("manifest: unexpected argument ") + Shown(argv[i]));
      PrintErr(kUsage);
      return kExitUsage;
    } else {
      client_dir = argv[i];
    }
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

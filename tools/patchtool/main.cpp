// patchtool: the operator's tool for publishing patches and packing the game.
#include <cstring>
#include <string>
#include <vector>

#include "tools/patchtool/arguments.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* summary;
};

constexpr Command kCommands[] = {
    {"checksum", &patchtool::RunChecksum, "checksum FILE...                     the checksum text of each file"},
    {"manifest", &patchtool::RunManifest, "manifest CLIENT_DIR [-o FILE] [--sign KEYFILE]  write the client's filelist.txt"},
    {"publish", &patchtool::RunPublish, "publish CLIENT_DIR SERVER_ROOT [--folder N] [--sign KEYFILE]  lay out SERVER_ROOT/patch/N/"},
    {"pack", &patchtool::RunPack, "pack UPDATER GAME -o OUT             append the game and its trailer"},
    {"inspect", &patchtool::RunInspect, "inspect FILE                         show the payload trailer(s) of FILE"},
    {"keygen", &patchtool::RunKeygen, "keygen KEYFILE                       new list-signing key; prints the public key"},
    {"verify", &patchtool::RunVerify, "verify LIST --key HEX [--files DIR]  check a signed list (and a mirror's files)"},
    {"delta", &patchtool::RunDelta, "delta OLD NEW -o PATCH               the delta patch from OLD to NEW"},
    {"apply", &patchtool::RunApply, "apply OLD PATCH -o NEW               rebuild NEW from OLD and a delta patch"},
    {"fetch", &patchtool::RunFetch, "fetch URL FILE                       download one file as the updater does"},
};

void PrintUsage(bool to_error) {
  auto print = to_error ? &patchtool::PrintErr : &patchtool::PrintOut;
  print("usage: patchtool COMMAND [ARGUMENTS]");
  print("commands:");
  for (const Command& command : kCommands) print(std::string("  ") + command.summary);
  print("patchtool COMMAND --help tells more. Exit codes: 0 done, 1 failed, 2 wrong arguments.");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<rt::Text> args;
  std::string bad;
  if (!patchtool::GbkArguments(argc, argv, &args, &bad)) {
    patchtool::ReportError("argument cannot be written in GBK: " + bad);
    return patchtool::kExitUsage;
  }
  if (args.empty()) {
    PrintUsage(true);
    return patchtool::kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintUsage(false);
    return patchtool::kExitOk;
  }
  for (const Command& command : kCommands) {
    if (args[0] != command.name) continue;
    std::vector<char*> pointers;
    for (rt::Text& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return command.run(static_cast<int>(args.size()), pointers.data());
  }
  patchtool::ReportError("unknown command: " + patchtool::Shown(args[0]));
  PrintUsage(true);
  return patchtool::kExitUsage;
}

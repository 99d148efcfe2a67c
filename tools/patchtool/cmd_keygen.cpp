// patchtool keygen KEYFILE
#include <cstring>

#include "runtime/text.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/secret_file.h"
#include "trust/list_keys.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool keygen KEYFILE\n"
    "Writes a new secret key for signing filelist.txt to KEYFILE (never over an\n"
    "existing file) and prints its public key, the value of the build setting\n"
    "UPDATER_LIST_PUBLIC_KEY. KEYFILE is readable by you alone. Keep it off the web\n"
    "host, and keep a copy: without it no list can be signed for the updaters built\n"
    "with that key.";

}  // namespace

int RunKeygen(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    PrintOut(kUsage);
    return kExitOk;
  }
  if (argc != 2 || argv[1][0] == '-') {
    PrintErr(kUsage);
    return kExitUsage;
  }
  const rt::Text path = argv[1];
  std::optional<trust::KeyPair> pair = trust::NewKeyPair();
  if (!pair) {
    ReportError("keygen: the crypto library did not start");
    return kExitFailed;
  }
  rt::Text secret_text = trust::SecretKeyFileText(pair->secret_key);
  trust::WipeSecret(&pair->secret_key);
  const SecretFileResult written = WriteNewSecretFile(path, secret_text);
  trust::WipeSecret(&secret_text);
  switch (written) {
    case SecretFileResult::kWritten: break;
    case SecretFileResult::kExists:
      ReportError("keygen: " + Shown(path) + " exists; a key is never overwritten");
      return kExitFailed;
    case SecretFileResult::kFailed:
      ReportError("keygen: cannot write " + Shown(path));
      return kExitFailed;
  }
  PrintOut(rt::LowerHexOf(pair->public_key.data(), pair->public_key.size()));
  PrintErr("patchtool: secret key written to " + Shown(path) +
           "; the line above is its public key (UPDATER_LIST_PUBLIC_KEY)");
  return kExitOk;
}

}  // namespace patchtool

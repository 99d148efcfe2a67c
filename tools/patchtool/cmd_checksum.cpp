// patchtool checksum [--reference] FILE...
#include <cstring>

#include "app/file_checksum.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool checksum FILE...\n"
    "Prints the checksum text of each file, as the file list carries it, and its name.";

// The per-byte loop from the last byte to the first, over the whole file in
// memory: the slow yardstick the benchmark measures the real one against.
std::optional<int32_t> ReferenceChecksum(const rt::Text& path) {
  if (rt::FileSize64(path) < 0) return std::nullopt;
  const rt::Bytes content = rt::ReadWholeFile(path);
  uint32_t h = 0;
  for (size_t k = content.size(); k-- > 0;) h = h * 31u + content[k] + 1u;
  return static_cast<int32_t>(h);
}

}  // namespace

int RunChecksum(int argc, char** argv) {
  bool reference = false;
  int first = 1;
  for (; first < argc && argv[first][0] == '-'; ++first) {
    if (std::strcmp(argv[first], "--reference") == 0) {
      reference = true;
    } else if (std::strcmp(argv[first], "--help") == 0 || std::strcmp(argv[first], "-h") == 0) {
      PrintOut(kUsage);
      return kExitOk;
    } else if (std::strcmp(argv[first], "--") == 0) {
      ++first;
      break;
    } else {
      ReportError(std::string("checksum: unknown option ") + Shown(argv[first]));
      PrintErr(kUsage);
      return kExitUsage;
    }
  }
  if (first >= argc) {
    PrintErr(kUsage);
    return kExitUsage;
  }
  int result = kExitOk;
  for (int i = first; i < argc; ++i) {
    const rt::Text path = argv[i];
    if (rt::FolderExists(path)) {
      ReportError("checksum: " + Shown(path) + " is a folder");
      result = kExitFailed;
      continue;
    }
    const std::optional<int32_t> sum = reference ? ReferenceChecksum(path) : app::TryFileChecksumOfFile(path);
    if (!sum) {
      ReportError("checksum: cannot read " + Shown(path));
      result = kExitFailed;
      continue;
    }
    PrintOut(rt::ToText(*sum) + "  " + Shown(path));
  }
  return result;
}

}  // namespace patchtool

// patchtool checksum [--reference] FILE...
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

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

// The per-byte loop from the last byte to the first, chunk by chunk (a
// 32-bit process cannot hold a big file whole): the slow yardstick the
// benchmark measures the real one against.
std::optional<int32_t> ReferenceChecksum(const rt::Text& path) {
  constexpr size_t kChunk = 1 << 20;
  const int32_t file = rt::OpenFile(path, rt::kModeRead, rt::kShareDenyNone);
  if (file == 0) return std::nullopt;
  std::vector<std::uint8_t> buffer(kChunk);
  uint32_t total = 0, weight = 1;
  int64_t got;
  while ((got = rt::ReadFromFile(file, buffer.data(), buffer.size())) > 0) {
    uint32_t h = 0;
    for (size_t k = static_cast<size_t>(got); k-- > 0;) h = h * 31u + buffer[k] + 1u;
    total += weight * h;
    weight *= app::detail::PowerOf31(static_cast<uint64_t>(got));
  }
  rt::CloseFile(file);
  if (got < 0) return std::nullopt;
  return static_cast<int32_t>(total);
}

// Measures each summing kernel over a buffer that stays in the cache, and the
// per-byte loop, so that the benchmark can tell the kernels from the reads.
int ReportKernelSpeed() {
  constexpr size_t kBuffer = 1 << 20;
  constexpr double kSeconds = 0.3;
  std::vector<std::uint8_t> buffer(kBuffer);
  for (size_t i = 0; i < kBuffer; ++i) buffer[i] = static_cast<std::uint8_t>(i * 131 + 7);
  for (const auto& [name, kernel] : app::detail::AvailableKernels()) {
    volatile uint32_t sink = 0;  // keeps the calls
    size_t rounds = 0;
    const auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < kSeconds) {
      sink = sink + kernel(buffer.data(), buffer.size());
      ++rounds;
      elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    char line[160];
    std::snprintf(line, sizeof line, "kernel %-8s %7.2f GB/s%s", name, rounds * kBuffer / elapsed / 1e9,
                  std::strcmp(name, app::detail::KernelName()) == 0 ? " (used)" : "");
    PrintOut(line);
  }
  return kExitOk;
}

}  // namespace

int RunChecksum(int argc, char** argv) {
  bool reference = false;
  int first = 1;
  for (; first < argc && argv[first][0] == '-'; ++first) {
    if (std::strcmp(argv[first], "--reference") == 0) {
      reference = true;
    } else if (std::strcmp(argv[first], "--kernel-speed") == 0) {
      return ReportKernelSpeed();
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

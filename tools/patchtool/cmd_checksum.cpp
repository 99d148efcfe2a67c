// patchtool checksum [--reference] FILE...
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "checksum/file_checksum.h"
#include "runtime/convert.h"
#include "runtime/encoding.h"
#include "runtime/files.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool checksum [--files-from LIST] FILE...\n"
    "Prints the checksum text of each file, as the file list carries it, and its name.\n"
    "--files-from LIST also takes the names in LIST, one per line, UTF-8.";

// The names in a list file: one per line, UTF-8, CR LF or LF; empty lines
// are skipped. False when the file cannot be read or a name has no GBK form.
bool ReadNameList(const rt::Text& list_path, std::vector<rt::Text>* names) {
  const int32_t file = rt::OpenFile(list_path, rt::kModeRead, rt::kShareDenyNone);
  if (file == 0) return false;
  std::string content;
  std::vector<std::uint8_t> buffer(1 << 16);
  int64_t got;
  while ((got = rt::ReadFromFile(file, buffer.data(), buffer.size())) > 0)
    content.append(buffer.begin(), buffer.begin() + got);
  rt::CloseFile(file);
  if (got < 0) return false;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (line.empty()) continue;
    bool ok = true;
    names->push_back(rt::Utf8ToGbk(line, &ok));
    if (!ok) {
      ReportError("checksum: name cannot be written in GBK: " + line);
      return false;
    }
  }
  return true;
}

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
    weight *= checksum::detail::PowerOf31(static_cast<uint64_t>(got));
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
  for (const auto& [name, kernel] : checksum::detail::AvailableKernels()) {
    volatile uint32_t sink = 0;  // keeps the calls
    size_t rounds = 0;  // counted in a double below: a 32-bit size_t wraps past 4 GiB
    const auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < kSeconds) {
      sink = sink + kernel(buffer.data(), buffer.size());
      ++rounds;
      elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    char line[160];
    std::snprintf(line, sizeof line, "kernel %-8s %7.2f GB/s%s", name,
                  static_cast<double>(rounds) * kBuffer / elapsed / 1e9,
                  std::strcmp(name, checksum::detail::KernelName()) == 0 ? " (used)" : "");
    PrintOut(line);
  }
  return kExitOk;
}

}  // namespace

int RunChecksum(int argc, char** argv) {
  bool reference = false;
  std::vector<rt::Text> paths;
  int first = 1;
  for (; first < argc && argv[first][0] == '-'; ++first) {
    if (std::strcmp(argv[first], "--files-from") == 0 && first + 1 < argc) {
      ++first;
      if (!ReadNameList(argv[first], &paths)) {
        ReportError(std::string("checksum: cannot read the name list ") + Shown(argv[first]));
        return kExitFailed;
      }
    } else if (std::strcmp(argv[first], "--reference") == 0) {
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
  for (int i = first; i < argc; ++i) paths.push_back(argv[i]);
  if (paths.empty()) {
    PrintErr(kUsage);
    return kExitUsage;
  }
  int result = kExitOk;
  for (const rt::Text& path : paths) {
    const std::optional<int32_t> sum = reference ? ReferenceChecksum(path) : checksum::TryFileChecksumOfFile(path);
    if (!sum) {
      ReportError("checksum: " + Shown(path) + (rt::FolderExists(path) ? " is a folder" : ": cannot read"));
      result = kExitFailed;
      continue;
    }
    PrintOut(rt::ToText(*sum) + "  " + Shown(path));
  }
  return result;
}

}  // namespace patchtool

#include "runtime/instance.h"

#include <cstdio>
#include <string>

namespace rt {

Text InstanceLockName(const Text& folder) {
  const std::optional<FileFacts> facts = ReadFileFacts(folder);
  return facts.has_value() ? InstanceLockNameOf(facts->identity) : InstanceLockNameOfPath(folder);
}

Text InstanceLockNameOf(const FileIdentity& folder) {
  char text[64];
  std::snprintf(text, sizeof text, "updater-folder-%016llx-%016llx",
                static_cast<unsigned long long>(folder.volume_serial),
                static_cast<unsigned long long>(folder.file_index));
  return text;
}

Text InstanceLockNameOfPath(const Text& folder) {
  // The path folded character by character: a GBK pair is kept as it is (its
  // trail byte may look like an ASCII letter or "\"), "/" is read as "\".
  std::string folded;
  size_t kept = 0;  // length up to the last character that is no separator
  for (size_t i = 0; i < folder.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(folder[i]);
    if (c >= 0x81 && i + 1 < folder.size()) {
      folded += static_cast<char>(c);
      folded += folder[++i];
      kept = folded.size();
      continue;
    }
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    folded += static_cast<char>(c);
    if (c != '\\') kept = folded.size();
  }
  // FNV-1a, 64 bits, without trailing separators.
  uint64_t hash = 1469598103934665603ull;
  for (size_t i = 0; i < kept; ++i) hash = (hash ^ static_cast<unsigned char>(folded[i])) * 1099511628211ull;
  char text[40];
  std::snprintf(text, sizeof text, "updater-folder-%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace rt

// The remote list with its path check. Every entry of a usable list is
// resolved against the client folder the way Windows reads the name (GBK
// decoded as code page 936 does: a lead byte takes the next byte only when
// that byte can trail; "\" and "/" both separate; empty and "." segments stay
// put, ".." and the all-dots forms go up) and must never be rooted, never
// leave the folder and never name a device; nor may it hold a wildcard, a
// character Windows refuses in a name or a control character.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "list/file_list.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool IsLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool IsTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE); }

// The path's segments as Windows separates them; `rooted` when it starts
// with a separator.
std::vector<std::string> Segments(const std::string& path, bool* rooted) {
  std::vector<std::string> segments(1);
  *rooted = false;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (IsLead(c) && i + 1 < path.size() && IsTrail(static_cast<unsigned char>(path[i + 1]))) {
      segments.back() += path.substr(i, 2);
      ++i;
    } else if (c == '\\' || c == '/') {
      if (i == 0) *rooted = true;
      segments.emplace_back();
    } else {
      segments.back() += static_cast<char>(c);
    }
  }
  return segments;
}

bool IsDevice(const std::string& segment) {
  std::string base = segment.substr(0, segment.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (base == name) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// No byte of an accepted path is a wildcard, a character Windows refuses in a
// name, a control character or "/", unless it trails a GBK lead byte.
void CheckPlainBytes(const std::string& path) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (IsLead(c)) {
      FUZZ_CHECK(i + 1 < path.size() && IsTrail(static_cast<unsigned char>(path[i + 1])));
      ++i;
      continue;
    }
    FUZZ_CHECK(c >= 0x20 && c != 0x7F && c < 0x80);
    FUZZ_CHECK(std::string("*?\"|<>/#").find(static_cast<char>(c)) == std::string::npos);
  }
}

void CheckStaysInside(const std::string& path) {
  CheckPlainBytes(path);
  bool rooted = false;
  const std::vector<std::string> segments = Segments(path, &rooted);
  FUZZ_CHECK(!rooted);
  FUZZ_CHECK(path.find(':') == std::string::npos);
  int depth = 0;
  for (const std::string& segment : segments) {
    FUZZ_CHECK(!IsDevice(segment));
    const bool dots_and_blanks = segment.find_first_not_of(". ") == std::string::npos;
    const std::size_t dots = static_cast<std::size_t>(std::count(segment.begin(), segment.end(), '.'));
    if (dots_and_blanks && dots >= 2) {
      --depth;
      FUZZ_CHECK(depth >= 0);
    } else if (!dots_and_blanks) {
      ++depth;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const rt::Bytes body(data, data + size);
  const list::FileList list = list::ParseFileList(body, list::HashLines::kSkipped);
  if (!list.usable()) {
    FUZZ_CHECK(list.entries.empty());
    return 0;
  }
  for (const list::PatchEntry& entry : list.entries) CheckStaysInside(entry.path);
  return 0;
}

#include "tools/patchtool/release_store.h"

#include <set>
#include <string>

#include "list/forms.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tools/patchtool/file_copy.h"
#include "tools/patchtool/listing.h"

namespace patchtool {
namespace {

constexpr char kWritingSuffix[] = ".publishing";

std::optional<int32_t> ParseChecksum(const rt::Text& text) {
  if (text.empty() || text.size() > 11) return std::nullopt;
  size_t at = text[0] == '-' ? 1 : 0;
  if (at == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return std::nullopt;
    value = value * 10 + (text[at] - '0');
  }
  if (text[0] == '-') value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

bool EndsWith(const rt::Text& text, const char* suffix) {
  const rt::Text end(suffix);
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

rt::Bytes FormatReleaseRecord(const std::map<rt::Text, std::vector<Release>>& releases) {
  rt::Text text;
  for (const auto& [path, list] : releases)
    for (const Release& release : list)
      text += list::Sha256Hex(release.sha256) + "#" + rt::ToText(release.size) + "#" +
              rt::ToText(release.checksum) + "#" + path + "\r\n";
  return rt::Bytes(text.begin(), text.end());
}

std::map<rt::Text, std::vector<Release>> ParseReleaseRecord(const rt::Bytes& bytes) {
  std::map<rt::Text, std::vector<Release>> releases;
  const rt::Text text(bytes.begin(), bytes.end());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == rt::Text::npos) end = text.size();
    rt::Text line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t a = line.find('#');
    const size_t b = a == rt::Text::npos ? a : line.find('#', a + 1);
    const size_t c = b == rt::Text::npos ? b : line.find('#', b + 1);
    if (c == rt::Text::npos || c + 1 == line.size()) continue;
    const auto sha = list::ParseSha256Hex(line.substr(0, a));
    const auto size = list::ParseListSize(line.substr(a + 1, b - a - 1));
    const auto checksum = ParseChecksum(line.substr(b + 1, c - b - 1));
    if (!sha || !size || !checksum) continue;
    std::vector<Release>& list = releases[line.substr(c + 1)];
    const Release release{*sha, *size, *checksum};
    bool seen = false;
    for (const Release& other : list) seen = seen || other == release;
    if (!seen && list.size() < kKeptReleases) list.push_back(release);
  }
  return releases;
}

ReleaseStore::ReleaseStore(const rt::Text& server_root, const rt::Text& folder) {
  folder_ = JoinDiskPath(server_root, kReleasesFolder);
  folder_.pop_back();
  record_ = folder_ + "/" + folder + kReleaseRecordSuffix;
}

void ReleaseStore::Load() { releases_ = ParseReleaseRecord(rt::ReadWholeFile(record_)); }

std::vector<Release> ReleaseStore::Of(const rt::Text& list_path) const {
  std::vector<Release> present;
  const auto found = releases_.find(list_path);
  if (found == releases_.end()) return present;
  for (const Release& release : found->second)
    if (rt::FileSize64(FileOf(release)) == release.size) present.push_back(release);
  return present;
}

rt::Text ReleaseStore::FileOf(const Release& release) const {
  return folder_ + "/" + list::Sha256Hex(release.sha256) + kReleaseSuffix;
}

bool ReleaseStore::Add(const rt::Text& list_path, const Release& release, const rt::Text& source) {
  const rt::Text target = FileOf(release);
  if (rt::FileSize64(target) != release.size) {
    rt::CreateFolderTree(folder_);
    const rt::Text writing = target + kWritingSuffix;
    bool ok;
    {
      OutputFile out(writing);
      ok = out.is_open() && out.AppendRange(source, 0, release.size);
    }
    if (!ok || !ReplaceFile(writing, target)) {
      rt::RemoveFile(writing);
      return false;
    }
  }
  std::vector<Release>& list = releases_[list_path];
  std::vector<Release> updated = {release};
  for (const Release& other : list)
    if (!(other == release) && updated.size() < kKeptReleases) updated.push_back(other);
  list = updated;
  return true;
}

bool ReleaseStore::Save() {
  if (releases_.empty() && rt::FileSize64(record_) < 0) return true;  // no big file, ever
  rt::CreateFolderTree(folder_);
  const rt::Text writing = record_ + kWritingSuffix;
  if (!rt::WriteWholeFile(writing, FormatReleaseRecord(releases_)) || !ReplaceFile(writing, record_)) {
    rt::RemoveFile(writing);
    return false;
  }
  // Every folder's record decides which release files stay.
  std::vector<FolderEntry> entries;
  if (!ListFolder(folder_, &entries)) return true;
  std::set<rt::Text> named;
  for (const FolderEntry& entry : entries) {
    if (!entry.gbk_ok || entry.kind != EntryKind::kFile || !EndsWith(entry.name, kReleaseRecordSuffix)) continue;
    for (const auto& [path, list] : ParseReleaseRecord(rt::ReadWholeFile(folder_ + "/" + entry.name)))
      for (const Release& release : list) named.insert(list::Sha256Hex(release.sha256) + kReleaseSuffix);
  }
  for (const FolderEntry& entry : entries)
    if (entry.gbk_ok && entry.kind == EntryKind::kFile && EndsWith(entry.name, kReleaseSuffix) &&
        named.count(entry.name) == 0)
      rt::RemoveFile(folder_ + "/" + entry.name);
  return true;
}

}  // namespace patchtool

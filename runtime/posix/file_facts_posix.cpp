#include <sys/stat.h>
#include <time.h>

#include "runtime/file_facts.h"
#include "runtime/posix/path_posix.h"

namespace rt {
namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kUnixEpochSeconds = 11644473600u;

uint64_t Ticks(const struct timespec& time) {
  if (time.tv_sec < 0) return 0;
  return (static_cast<uint64_t>(time.tv_sec) + kUnixEpochSeconds) * kFileTimeTicksPerSecond +
         static_cast<uint64_t>(time.tv_nsec) / 100;
}

}  // namespace

std::optional<FileFacts> ReadFileFacts(const Text& path) {
  struct stat st;
  if (path.empty() || ::stat(NativePath(path).c_str(), &st) != 0) return std::nullopt;
  FileFacts facts;
  facts.is_folder = S_ISDIR(st.st_mode);
  facts.size = facts.is_folder ? 0 : static_cast<int64_t>(st.st_size);
  facts.last_write_time = Ticks(st.st_mtim);
  facts.creation_time = Ticks(st.st_ctim);
  facts.identity.volume_serial = static_cast<uint64_t>(st.st_dev);
  facts.identity.file_index = static_cast<uint64_t>(st.st_ino);
  return facts;
}

// stat answers everything at once: nothing to keep.
struct FileFactsReader::Folders {};
FileFactsReader::FileFactsReader() = default;
FileFactsReader::~FileFactsReader() = default;
FileFactsReader::FileFactsReader(FileFactsReader&&) noexcept = default;
FileFactsReader& FileFactsReader::operator=(FileFactsReader&&) noexcept = default;

std::optional<FileFacts> FileFactsReader::Read(const Text& path) { return ReadFileFacts(path); }
std::optional<FileFacts> FileFactsReader::ReadPlaced(const Text& path) { return ReadFileFacts(path); }
size_t FileFactsReader::listed() const { return 0; }

uint64_t FileTimeNow() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return Ticks(now);
}

}  // namespace rt

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "runtime/encoding.h"
#include "runtime/file_access.h"
#include "runtime/files.h"
#include "runtime/posix/path_posix.h"
#include "runtime/posix/unique_fd.h"
#include "runtime/system_error.h"

// Sizes and offsets are 64-bit on every build, 32-bit ones included (the
// runtime is compiled with _FILE_OFFSET_BITS=64).
static_assert(sizeof(off_t) == 8, "64-bit file offsets");

namespace rt {

std::string NativePath(const Text& gbk_path) {
  std::string path = GbkToUtf8(gbk_path);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

namespace {

constexpr size_t kCopyChunk = 1 << 20;

bool WriteAll(int fd, const std::uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// ---- Open-file table with Windows sharing rules --------------------------

struct OpenEntry {
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  bool read = false, write = false;              // access
  bool share_read = false, share_write = false;  // what others may do
};

std::mutex g_table_mutex;
std::map<int32_t, OpenEntry> g_table;
int32_t g_next_number = 1;

bool Conflicts(const OpenEntry& a, const OpenEntry& b) {
  return (a.read && !b.share_read) || (a.write && !b.share_write) || (b.read && !a.share_read) ||
         (b.write && !a.share_write);
}

bool IsOpenLocked(dev_t dev, ino_t ino) {
  for (auto& [number, e] : g_table)
    if (e.dev == dev && e.ino == ino) return true;
  return false;
}

bool IsOpen(const std::string& native) {
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return false;
  std::lock_guard<std::mutex> lock(g_table_mutex);
  return IsOpenLocked(st.st_dev, st.st_ino);
}

// The error of this thread's last failed WriteToFile.
thread_local uint32_t t_last_write_error = 0;

int FdOf(int32_t file) {
  std::lock_guard<std::mutex> lock(g_table_mutex);
  auto it = g_table.find(file);
  return it == g_table.end() ? -1 : it->second.fd;
}

}  // namespace

Bytes ReadWholeFile(const Text& path) {
  if (path.empty()) return Bytes();
  const UniqueFd fd(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return Bytes();
  Bytes out;
  struct stat st;
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
    if (!FitsInMemory(st.st_size)) return Bytes();
    out.reserve(static_cast<size_t>(st.st_size));
  }
  std::uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Bytes();
    if (n == 0) break;
    if (!FitsInMemory(static_cast<int64_t>(out.size()) + n)) return Bytes();
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

bool WriteWholeFile(const Text& path, const Bytes& data) { return WriteWholeFile(path, data, Bytes()); }

bool WriteWholeFile(const Text& path, const Bytes& first, const Bytes& second) {
  if (path.empty()) return false;
  std::string native = NativePath(path);
  if (IsOpen(native)) return false;  // exclusive writing
  UniqueFd fd(::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return false;
  if (!WriteAll(fd.get(), first.data(), first.size()) || !WriteAll(fd.get(), second.data(), second.size()))
    return false;
  // A delayed write error (a full disk on some file systems) shows at close.
  return ::close(fd.release()) == 0;
}

bool FileExists(const Text& path) {
  struct stat st;
  return !path.empty() && ::stat(NativePath(path).c_str(), &st) == 0;
}

int64_t FileSize64(const Text& path) {
  struct stat st;
  if (path.empty() || ::stat(NativePath(path).c_str(), &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
}

bool RemoveFile(const Text& path) {
  std::string native = NativePath(path);
  struct stat st;
  if (path.empty() || ::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  // Windows refuses to delete a file that is open without delete sharing.
  if (IsOpen(native)) return false;
  // Windows refuses to delete a read-only file as well.
  if (!(st.st_mode & S_IWUSR)) return false;
  return ::unlink(native.c_str()) == 0;
}

bool CopyFile(const Text& from, const Text& to) {
  std::string src = NativePath(from), dst = NativePath(to);
  const UniqueFd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return false;
  struct stat st;
  if (::fstat(in.get(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (IsOpen(dst)) {
    errno = EBUSY;  // held open, as Windows reports a sharing violation
    return false;
  }
  struct stat dst_st;
  if (::stat(dst.c_str(), &dst_st) == 0 && dst_st.st_dev == st.st_dev && dst_st.st_ino == st.st_ino) {
    return false;  // copying a file onto itself
  }
  UniqueFd out(::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777));
  if (!out) return false;
  std::vector<std::uint8_t> buffer(kCopyChunk);
  for (;;) {
    ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (!WriteAll(out.get(), buffer.data(), static_cast<size_t>(n))) return false;
  }
  return ::close(out.release()) == 0;
}

bool MoveFile(const Text& from, const Text& to) {
  std::string src = NativePath(from), dst = NativePath(to);
  struct stat st;
  if (from.empty() || to.empty() || ::lstat(src.c_str(), &st) != 0) return false;
  if (::lstat(dst.c_str(), &st) == 0) return false;  // the target exists
  if (IsOpen(src)) return false;
  if (::rename(src.c_str(), dst.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  if (!CopyFile(from, to)) return false;
  return ::unlink(src.c_str()) == 0;
}

bool ReplaceFile(const Text& from, const Text& to) {
  if (from.empty() || to.empty()) return false;
  const std::string src = NativePath(from), dst = NativePath(to);
  // Windows refuses to replace a file that is open without delete sharing,
  // and to move one that is.
  if (IsOpen(src) || IsOpen(dst)) return false;
  struct stat st;
  if (::lstat(src.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (::lstat(dst.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
  return ::rename(src.c_str(), dst.c_str()) == 0;
}

bool SetFileAttributes(const Text& path, uint32_t attributes) {
  std::string native = NativePath(path);
  struct stat st;
  if (path.empty() || ::stat(native.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly)
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else
    mode |= S_IWUSR;
  return ::chmod(native.c_str(), mode) == 0;
}

uint32_t GetFileAttributes(const Text& path) {
  struct stat st;
  if (path.empty() || ::stat(NativePath(path).c_str(), &st) != 0) return 0xFFFFFFFFu;
  return (st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly;
}

void CreateFolderTree(const Text& folder) {
  std::string path = NativePath(folder);
  if (path.empty()) return;
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      ::mkdir(part.c_str(), 0755);
    }
  }
}

bool FolderExists(const Text& path) {
  struct stat st;
  return !path.empty() && ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SetCurrentFolder(const Text& folder) { return ::chdir(NativePath(folder).c_str()) == 0; }

int32_t OpenFile(const Text& path, int32_t mode, int32_t share) {
  if (mode < kModeRead || mode > kModeOpenOrCreateRW || share < kShareDenyNone || share > kShareExclusive)
    return 0;
  if (path.empty()) return 0;
  OpenEntry entry;
  entry.read = (mode == kModeRead || mode == kModeReadWrite || mode == kModeOpenOrCreateRW);
  entry.write = (mode != kModeRead);
  entry.share_read = (share == kShareDenyNone || share == kShareDenyWrite);
  entry.share_write = (share == kShareDenyNone || share == kShareDenyRead);

  int flags = O_CLOEXEC | (entry.read && entry.write ? O_RDWR : entry.write ? O_WRONLY : O_RDONLY);
  if (mode >= kModeCreateWrite) flags |= O_CREAT;
  std::string native = NativePath(path);

  std::lock_guard<std::mutex> lock(g_table_mutex);
  // Opened first and the sharing checked on what was opened: one look up of
  // the path instead of two (a checksum of many small files pays for each).
  // Nothing is truncated before the check, and a file the open created is
  // held by no one else.
  int fd = ::open(native.c_str(), flags, 0644);
  if (fd < 0) return 0;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return 0;
  }
  entry.dev = st.st_dev;
  entry.ino = st.st_ino;
  for (auto& [number, other] : g_table) {
    if (other.dev == entry.dev && other.ino == entry.ino && Conflicts(entry, other)) {
      ::close(fd);
      return 0;
    }
  }
  if (mode == kModeCreateWrite && ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return 0;
  }
  entry.fd = fd;
  int32_t number = g_next_number++;
  g_table[number] = entry;
  return number;
}

bool SeekToEnd(int32_t file) {
  int fd = FdOf(file);
  return fd >= 0 && ::lseek(fd, 0, SEEK_END) >= 0;
}

bool SeekFile(int32_t file, int64_t offset) {
  int fd = FdOf(file);
  return fd >= 0 && offset >= 0 && ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

int64_t FilePosition(int32_t file) {
  int fd = FdOf(file);
  return fd < 0 ? -1 : static_cast<int64_t>(::lseek(fd, 0, SEEK_CUR));
}

bool WriteToFile(int32_t file, const Bytes& data) { return WriteToFile(file, data.data(), data.size()); }

bool WriteToFile(int32_t file, const std::uint8_t* data, size_t size) {
  int fd = FdOf(file);
  if (fd < 0) {
    t_last_write_error = EBADF;
    return false;
  }
  // On failure step back over what did get written: the position is where it
  // was, without asking for it before every write.
  size_t written = 0;
  while (written < size) {
    ssize_t n = ::write(fd, data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write that takes nothing without an error of its own counts as an I/O error.
      t_last_write_error = n < 0 ? static_cast<uint32_t>(errno) : static_cast<uint32_t>(EIO);
      ::lseek(fd, -static_cast<off_t>(written), SEEK_CUR);
      return false;
    }
    written += static_cast<size_t>(n);
  }
  return true;
}

uint32_t LastFileError() { return t_last_write_error; }

bool LastFileErrorIsDiskFull() { return t_last_write_error == ENOSPC || t_last_write_error == EDQUOT; }

int64_t ReadFromFile(int32_t file, std::uint8_t* out, size_t size) {
  int fd = FdOf(file);
  if (fd < 0) return -1;
  for (;;) {
    ssize_t n = ::read(fd, out, size);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<int64_t>(n);
  }
}

bool FlushFile(int32_t file) {
  const int fd = FdOf(file);
  if (fd < 0) {
    t_last_write_error = EBADF;
    return false;
  }
  int result = 0;
  // Bounded: a few rounds for interrupting signals, then the error stands.
  for (int round = 0; round < 4; ++round) {
    result = ::fsync(fd);
    if (result == 0 || errno != EINTR) break;
  }
  if (result != 0) t_last_write_error = static_cast<uint32_t>(errno);
  return result == 0;
}

void CloseFile(int32_t file) {
  int fd = -1;
  {
    std::lock_guard<std::mutex> lock(g_table_mutex);
    auto it = g_table.find(file);
    if (it == g_table.end()) return;
    fd = it->second.fd;
    g_table.erase(it);
  }
  ::close(fd);
}

// ---- Write probes -----------------------------------------------------------

namespace {

// A write refused for want of room says so; any other refusal is a denial.
AccessCheck WriteRefused(int error) {
  const uint32_t code = static_cast<uint32_t>(error);
  return AccessCheck{IsDiskFullError(code) ? WriteAccess::kDiskFull : WriteAccess::kDenied, code};
}

}  // namespace

AccessCheck ProbeFolderWritable(const Text& folder) {
  const std::string path = NativePath(folder.empty() ? Text(kProbeFileName) : folder + "\\" + kProbeFileName);
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return WriteRefused(errno);
  const char byte = 0;
  // Written through to the disk: a file system that reserves room only when
  // data goes out (tmpfs does at once, others at the flush) must say now.
  const bool written = ::write(fd.get(), &byte, 1) == 1 && ::fsync(fd.get()) == 0;
  const int write_error = errno;
  const bool closed = ::close(fd.release()) == 0;
  const int close_error = errno;
  if (!written || !closed) {
    ::unlink(path.c_str());
    return WriteRefused(!written ? write_error : close_error);
  }
  if (::unlink(path.c_str()) != 0) return AccessCheck{WriteAccess::kDenied, static_cast<uint32_t>(errno)};
  return AccessCheck{};
}

int64_t FreeDiskSpace(const Text& folder) {
  struct statvfs vfs;
  if (::statvfs(folder.empty() ? "." : NativePath(folder).c_str(), &vfs) != 0) return -1;
  // f_bavail: the blocks an unprivileged user may still take.
  const uint64_t blocks = vfs.f_bavail, block_size = vfs.f_frsize;
  if (block_size != 0 && blocks > static_cast<uint64_t>(INT64_MAX) / block_size) return INT64_MAX;
  return static_cast<int64_t>(blocks * block_size);
}

EntryKind EntryKindOf(const Text& path) {
  struct stat st;
  if (path.empty() || ::lstat(NativePath(path).c_str(), &st) != 0) return EntryKind::kNothing;
  if (S_ISLNK(st.st_mode)) return EntryKind::kLink;
  return S_ISDIR(st.st_mode) ? EntryKind::kFolder : EntryKind::kFile;
}

Text ResolveLink(const Text& path) {
  if (path.empty()) return Text();
  char* resolved = ::realpath(NativePath(path).c_str(), nullptr);
  if (resolved == nullptr) return Text();
  const std::string target(resolved);
  ::free(resolved);
  return Utf8ToGbk(target);
}

AccessCheck ProbeReplaceable(const Text& path) {
  const std::string native = NativePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return AccessCheck{};
    return AccessCheck{WriteAccess::kDenied, static_cast<uint32_t>(errno)};
  }
  if (S_ISDIR(st.st_mode)) return AccessCheck{WriteAccess::kDenied, static_cast<uint32_t>(EISDIR)};
  if ((GetFileAttributes(path) & kAttrReadOnly) && !SetFileAttributes(path, 0)) {
    return AccessCheck{WriteAccess::kDenied, static_cast<uint32_t>(errno)};
  }
  {
    // Held open by another open of this process, as Windows sharing sees it.
    std::lock_guard<std::mutex> lock(g_table_mutex);
    if (IsOpenLocked(st.st_dev, st.st_ino)) return AccessCheck{WriteAccess::kInUse, static_cast<uint32_t>(EBUSY)};
  }
  const int fd = ::open(native.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return AccessCheck{WriteAccess::kDenied, static_cast<uint32_t>(errno)};
  ::close(fd);
  return AccessCheck{};
}

}  // namespace rt

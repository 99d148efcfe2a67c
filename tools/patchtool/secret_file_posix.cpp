#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/encoding.h"
#include "tools/patchtool/secret_file.h"

namespace patchtool {

SecretFileResult WriteNewSecretFile(const rt::Text& path, const rt::Text& content) {
  // O_EXCL: never overwrite, not even a file that appears between a check and the open.
  const int fd = ::open(rt::GbkToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? SecretFileResult::kExists : SecretFileResult::kFailed;
  size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool ok = ::close(fd) == 0 && written == content.size();
  if (!ok) ::unlink(rt::GbkToUtf8(path).c_str());
  return ok ? SecretFileResult::kWritten : SecretFileResult::kFailed;
}

bool IsReadableByOthers(const rt::Text& path) {
  struct stat st;
  if (::stat(rt::GbkToUtf8(path).c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace patchtool

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "runtime/instance.h"
#include "runtime/process.h"

namespace rt {
namespace {
constexpr uint32_t kPollMs = 20;
}

InstanceLock::InstanceLock(const Text& folder, uint32_t wait_ms) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" +
                           InstanceLockName(folder) + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  handle_ = static_cast<std::uintptr_t>(fd) + 1;
  // flock locks belong to the open file, so two locks of one process
  // exclude each other as two processes would. Bounded: wait_ms / kPollMs rounds.
  for (uint32_t waited = 0;; waited += kPollMs) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      owned_ = true;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return;
    if (waited >= wait_ms) return;
    ::usleep(kPollMs * 1000);
  }
}

InstanceLock::~InstanceLock() {
  if (handle_ == 0) return;
  ::close(static_cast<int>(handle_ - 1));  // lets go of the lock too
}

bool BringProgramWindowToFront(const Text&, const Text&) { return false; }

Text LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &t);
  return text;
}

}  // namespace rt

// Mapped views on POSIX systems: mmap, and a SIGBUS handler that turns a
// failed page of one of our views into zero pages and a failed read.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "checksum/file_views.h"
#include "runtime/posix/path_posix.h"

namespace checksum::detail {
namespace {

struct sigaction g_previous_bus;
std::atomic<bool> g_handler_installed{false};

// A read of a mapped page past the file's end, or one the disk could not
// deliver. Ours: zero pages in its place and the read marked failed, so the
// faulting load runs again and the sum finishes. Anyone else's: the handler
// that was there before, or the default action, as if we were not here.
void OnBusError(int signal, siginfo_t* info, void* context) {
  const std::uint8_t* begin = nullptr;
  size_t size = 0;
  if (FailRangeAt(info->si_addr, &begin, &size) >= 0 &&
      mmap(const_cast<std::uint8_t*>(begin), size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
          MAP_FAILED) {
    return;
  }
  if (g_previous_bus.sa_flags & SA_SIGINFO) {
    g_previous_bus.sa_sigaction(signal, info, context);
  } else if (g_previous_bus.sa_handler != SIG_IGN && g_previous_bus.sa_handler != SIG_DFL) {
    g_previous_bus.sa_handler(signal);
  } else {
    sigaction(SIGBUS, &g_previous_bus, nullptr);  // the fault repeats and ends the process
  }
}

bool InstallHandler() {
  if (g_handler_installed.exchange(true)) return true;
  struct sigaction action = {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGBUS, &action, &g_previous_bus) == 0;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

ViewSum SumThroughViews(const rt::Text& path, int64_t size, ChecksumAccumulator& sum,
                        const std::function<void()>& between_chunks) {
  if (size < kMapMinSize || !InstallHandler()) return ViewSum::kNotMapped;
  Descriptor file(open(rt::NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
  struct stat facts;
  if (file.get() < 0 || fstat(file.get(), &facts) != 0 || facts.st_size != size) return ViewSum::kNotMapped;
  bool fed = false;
  for (int64_t offset = 0; offset < size; offset += static_cast<int64_t>(kViewSize)) {
    const size_t length = size - offset < static_cast<int64_t>(kViewSize) ? static_cast<size_t>(size - offset) : kViewSize;
    void* view = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.get(), static_cast<off_t>(offset));
    if (view == MAP_FAILED) return fed ? ViewSum::kReadFailed : ViewSum::kNotMapped;
    const auto* bytes = static_cast<const std::uint8_t*>(view);
    const int slot = GuardRange(bytes, length);
    if (slot < 0) {
      munmap(view, length);
      return fed ? ViewSum::kReadFailed : ViewSum::kNotMapped;
    }
    madvise(view, length, MADV_SEQUENTIAL);
    FeedView(bytes, length, sum, between_chunks);
    fed = true;
    const bool failed = ReleaseRange(slot);
    munmap(view, length);
    if (failed) return ViewSum::kReadFailed;
  }
  return ViewSum::kDone;
}

}  // namespace checksum::detail

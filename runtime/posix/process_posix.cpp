#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "runtime/encoding.h"
#include "runtime/posix/path_posix.h"
#include "runtime/process.h"

extern char** environ;

namespace rt {
namespace {

// Static initialisation runs on the main thread.
const pthread_t g_main_thread = pthread_self();

std::string ExecutablePath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace

Text RunDirectory() {
  std::string path = ExecutablePath();
  size_t slash = path.rfind('/');
  return Utf8ToGbk(slash == std::string::npos ? std::string() : path.substr(0, slash));
}

Text ExecutableName() {
  std::string path = ExecutablePath();
  size_t slash = path.rfind('/');
  return Utf8ToGbk(slash == std::string::npos ? path : path.substr(slash + 1));
}

TextArray CommandLineArguments() {
  // argv as the kernel keeps it: NUL-separated, program name first.
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TextArray args;
  size_t start = 0;
  bool first = true;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    if (!first) args.push_back(Utf8ToGbk(all.substr(start, end - start)));
    first = false;
    start = end + 1;
  }
  return args;
}

bool RunProgram(const Text& command_line, bool wait, int32_t show_mode) {
  (void)show_mode;  // no window system to show anything in
  TextArray words = SplitCommandWords(command_line);
  if (words.empty()) return false;
  std::vector<std::string> native;
  native.push_back(NativePath(words[0]));
  for (size_t i = 1; i < words.size(); ++i) native.push_back(GbkToUtf8(words[i]));
  std::vector<char*> argv;
  for (auto& w : native) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  if (wait) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  } else {
    std::thread([pid] {
      int status = 0;
      ::waitpid(pid, &status, 0);
    }).detach();
  }
  return true;
}

void ProcessEvents() {}

void DelayWithEvents(int32_t milliseconds) {
  if (milliseconds <= 0) return;
  uint32_t start = TickCount();
  while (TickCount() - start < static_cast<uint32_t>(milliseconds)) ::usleep(1000);
}

uint32_t TickCount() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void EndProgram(int32_t exit_code) {
  if (!pthread_equal(pthread_self(), g_main_thread)) EndProgramNow(exit_code);
  std::exit(exit_code);
}

void EndProgramNow(int32_t exit_code) { ::_exit(exit_code); }

}  // namespace rt

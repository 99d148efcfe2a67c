#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/posix/path_posix.h"
#include "runtime/user_values.h"

namespace rt {
namespace {

// Longest value read, in bytes: the values kept here are short numbers.
constexpr size_t kMaxValueBytes = 4096;

// The folder of the user's state: $XDG_STATE_HOME, else $HOME/.local/state;
// empty when neither is set.
std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return state;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state";
  return std::string();
}

// The file of one value; empty when there is no state folder or a piece could
// climb out of it.
std::string ValuePath(const Text& key, const Text& name) {
  const std::string folder = StateFolder();
  if (folder.empty() || name.empty() || name.find_first_of("/\\") != Text::npos) return std::string();
  const std::string relative = NativePath(key) + "/" + NativePath(name);
  if (relative.find("..") != std::string::npos || relative[0] == '/') return std::string();
  return folder + "/" + relative;
}

}  // namespace

std::optional<Text> ReadUserValue(const Text& key, const Text& name) {
  const std::string path = ValuePath(key, name);
  if (path.empty()) return std::nullopt;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  char buffer[kMaxValueBytes];
  const size_t length = std::fread(buffer, 1, sizeof buffer, file);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  if (!ok) return std::nullopt;
  return Text(buffer, length);
}

bool WriteUserValue(const Text& key, const Text& name, const Text& value) {
  const std::string path = ValuePath(key, name);
  if (path.empty()) return false;
  // mkdir -p of the value's folder; a failure shows at the open below.
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0700);
  }
  // Written beside its place and renamed in: a reader never sees half a value.
  const std::string writing = path + ".new";
  std::FILE* file = std::fopen(writing.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(value.data(), 1, value.size(), file) == value.size();
  if (std::fclose(file) != 0 || !written || ::rename(writing.c_str(), path.c_str()) != 0) {
    ::unlink(writing.c_str());
    return false;
  }
  return true;
}

}  // namespace rt

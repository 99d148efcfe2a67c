#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "runtime/encoding.h"
#include "tools/patchtool/mapped_file.h"

namespace patchtool {

MappedFile::MappedFile(const rt::Text& path) {
  const int fd = open(rt::GbkToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    size_ = static_cast<std::uint64_t>(st.st_size);
    if (size_ == 0) {
      open_ = true;
    } else if (size_ <= SIZE_MAX) {
      void* map = mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_PRIVATE, fd, 0);
      if (map != MAP_FAILED) {
        data_ = static_cast<const std::uint8_t*>(map);
        open_ = true;
      }
    }
  }
  close(fd);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) munmap(const_cast<std::uint8_t*>(data_), static_cast<size_t>(size_));
}

std::uint64_t PeakMemoryBytes() {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return 0;
  char line[256];
  std::uint64_t kib = 0;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) {
      kib = std::strtoull(line + 6, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return kib * 1024;
}

}  // namespace patchtool

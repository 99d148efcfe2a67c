#include <windows.h>
#include <psapi.h>

#include "runtime/win32/wide.h"
#include "tools/patchtool/mapped_file.h"

namespace patchtool {

MappedFile::MappedFile(const rt::Text& path) {
  const std::wstring wide = rt::Wide(path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size)) {
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    if (size_ == 0) {
      open_ = true;
    } else if (size_ <= SIZE_MAX) {
      HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
      if (mapping != nullptr) {
        void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        CloseHandle(mapping);  // the view keeps the mapping
        if (view != nullptr) {
          data_ = static_cast<const std::uint8_t*>(view);
          open_ = true;
        }
      }
    }
  }
  CloseHandle(file);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) UnmapViewOfFile(data_);
}

std::uint64_t PeakMemoryBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakPagefileUsage;
}

}  // namespace patchtool

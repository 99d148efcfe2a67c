// The portable parts of the file services.
#include "runtime/files.h"

#include <cstdint>

#include "runtime/text.h"

namespace rt {

bool IsReservedDeviceName(const Text& name) {
  Text base = TrimText(name.substr(0, name.find('.')));
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kNames)
    if (base == device) return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

Text ParentFolderOf(const Text& path) {
  const size_t slash = FindLastChar(path, '\\');
  return slash == Text::npos ? Text() : path.substr(0, slash);
}

bool MakeWritable(const Text& path) {
  const uint32_t attributes = GetFileAttributes(path);
  if (attributes == 0xFFFFFFFFu) return false;
  if ((attributes & kAttrReadOnly) == 0) return true;
  return SetFileAttributes(path, attributes & ~kAttrReadOnly);
}

int32_t FileSize(const Text& path) {
  const int64_t size = FileSize64(path);
  return size < 0 ? -1 : static_cast<int32_t>(static_cast<uint32_t>(size & 0xFFFFFFFFu));
}

bool FitsInMemory(int64_t size) {
  return size >= 0 && static_cast<uint64_t>(size) <= static_cast<uint64_t>(SIZE_MAX / 2);
}

int64_t ReadFull(int32_t file, std::uint8_t* out, size_t size) {
  size_t done = 0;
  // Bounded: every round reads at least one byte or ends.
  while (done < size) {
    const int64_t got = ReadFromFile(file, out + done, size - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

bool ReadExactly(int32_t file, std::uint8_t* out, size_t size) {
  return ReadFull(file, out, size) == static_cast<int64_t>(size);
}

}  // namespace rt

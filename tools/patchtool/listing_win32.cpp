#include "runtime/encoding.h"
#include "runtime/win32/win.h"
#include "tools/patchtool/listing.h"

namespace patchtool {

bool ListFolder(const rt::Text& folder, std::vector<FolderEntry>* entries) {
  entries->clear();
  std::u16string pattern = rt::GbkToUtf16(folder);
  if (!pattern.empty() && pattern.back() != u'\\' && pattern.back() != u'/') pattern += u'\\';
  pattern += u'*';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(reinterpret_cast<LPCWSTR>(pattern.c_str()), &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
    if (name == u"." || name == u"..") continue;
    FolderEntry entry;
    entry.shown = rt::Utf16ToUtf8(name);
    entry.name = rt::Utf16ToGbk(name, &entry.gbk_ok);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      entry.kind = EntryKind::kFolder;
    } else {
      entry.kind = EntryKind::kFile;
      entry.size = (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    }
    entries->push_back(std::move(entry));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

}  // namespace patchtool

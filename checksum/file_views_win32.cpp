// Mapped views on Windows: a file mapping with views of it, and a vectored
// exception handler that turns a page of one of our views that the disk could
// not deliver into zero pages and a failed read. (Windows refuses to cut
// short a file while a view of it is mapped.)
#include <atomic>

#include "checksum/file_views.h"
#include "runtime/win32/wide.h"
#include "runtime/win32/win.h"

namespace checksum::detail {
namespace {

std::atomic<bool> g_handler_installed{false};

LONG CALLBACK OnPageError(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR && record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
  const std::uint8_t* begin = nullptr;
  size_t size = 0;
  const void* address = reinterpret_cast<const void*>(record->ExceptionInformation[1]);
  if (FailRangeAt(address, &begin, &size) < 0) return EXCEPTION_CONTINUE_SEARCH;
  // The view's place taken by zero pages: the faulting load runs again.
  void* base = const_cast<std::uint8_t*>(begin);
  if (!UnmapViewOfFile(base)) return EXCEPTION_CONTINUE_SEARCH;
  if (VirtualAlloc(base, size, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY) != base) return EXCEPTION_CONTINUE_SEARCH;
  return EXCEPTION_CONTINUE_EXECUTION;
}

bool InstallHandler() {
  if (g_handler_installed.exchange(true)) return true;
  return AddVectoredExceptionHandler(1, OnPageError) != nullptr;
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

}  // namespace

ViewSum SumThroughViews(const rt::Text& path, int64_t size, ChecksumAccumulator& sum,
                        const std::function<void()>& between_chunks) {
  if (size < kMapMinSize || !InstallHandler()) return ViewSum::kNotMapped;
  Handle file(CreateFileW(rt::Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER facts;
  if (!file.valid() || !GetFileSizeEx(file.get(), &facts) || facts.QuadPart != size) return ViewSum::kNotMapped;
  Handle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.valid()) return ViewSum::kNotMapped;
  bool fed = false;
  for (int64_t offset = 0; offset < size; offset += static_cast<int64_t>(kViewSize)) {
    const size_t length = size - offset < static_cast<int64_t>(kViewSize) ? static_cast<size_t>(size - offset) : kViewSize;
    void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32),
                               static_cast<DWORD>(offset & 0xFFFFFFFF), length);
    if (view == nullptr) return fed ? ViewSum::kReadFailed : ViewSum::kNotMapped;
    const auto* bytes = static_cast<const std::uint8_t*>(view);
    const int slot = GuardRange(bytes, length);
    if (slot < 0) {
      UnmapViewOfFile(view);
      return fed ? ViewSum::kReadFailed : ViewSum::kNotMapped;
    }
    FeedView(bytes, length, sum, between_chunks);
    fed = true;
    if (ReleaseRange(slot)) {
      VirtualFree(view, 0, MEM_RELEASE);  // zero pages in the view's place
      return ViewSum::kReadFailed;
    }
    UnmapViewOfFile(view);
  }
  return ViewSum::kDone;
}

}  // namespace checksum::detail

// Replaces the global allocation functions so that running out of memory ends
// the program with the size that was asked for, instead of an exception that
// nothing catches.
#include "runtime/memory.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace rt {

void FatalOutOfMemory(std::size_t size) {
  // No heap use here: the heap is what just failed.
  char message[64];
  std::snprintf(message, sizeof message, "分配 %d 字节内存失败!", static_cast<int>(size));
  FatalError(message);
}

}  // namespace rt

namespace {
void* Allocate(std::size_t size) {
  if (size == 0) size = 1;
  void* p = std::malloc(size);
  if (!p) rt::FatalOutOfMemory(size);
  return p;
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#if defined(_WIN32)
// An exception that nothing catches ends the program through std::terminate.
// The toolchain's default handler prints the exception's demangled type to a
// console the updater does not have, and links a C++ name demangler (50 KB)
// for it; ending at once serves the player as well. Defining the handler here
// keeps the toolchain's, and the demangler, out of the link.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif

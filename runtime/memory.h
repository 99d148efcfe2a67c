#pragma once
// Running out of memory is fatal for the whole program: the global operator
// new is replaced so that a failed allocation shows
// "分配 %d 字节内存失败!" with the size asked for and ends the process.
#include <cstddef>

namespace rt {

[[noreturn]] void FatalOutOfMemory(std::size_t size);
// Reports a fatal error (message box on Windows, standard error elsewhere) and
// ends the process with exit code 1.
[[noreturn]] void FatalError(const char* gbk_message);

}  // namespace rt

#pragma once
// GBK texts to the wide strings of the W functions and back.
#include <string>

#include "runtime/types.h"

namespace rt {

std::wstring Wide(const Text& gbk);
Text FromWide(const std::wstring& wide);
Text FromWide(const wchar_t* wide, size_t length);

}  // namespace rt

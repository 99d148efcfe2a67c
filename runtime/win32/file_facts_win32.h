#pragma once
// ReadFileFacts for a wide path (a path the system gave, which GBK may not
// be able to write).
#include <optional>
#include <string>

#include "runtime/file_facts.h"

namespace rt {

std::optional<FileFacts> ReadFileFactsWide(std::wstring path);

}  // namespace rt

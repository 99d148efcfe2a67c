#pragma once
// The two value types every layer passes around.
#include <cstdint>
#include <string>
#include <vector>

namespace rt {

// A byte string in the GBK code page. Lengths and positions are byte counts;
// positions in the text operations are 1-based. Absent and empty are alike.
using Text = std::string;

// A counted byte buffer.
using Bytes = std::vector<std::uint8_t>;

// An ordered list of texts (split results, arguments, patch lists).
using TextArray = std::vector<Text>;

}  // namespace rt

// Plain driver for the fuzz harnesses: runs every stored input (files, or
// every file of the folders named) once through LLVMFuzzerTestOneInput, in
// name order. Linked instead of libFuzzer where the harness is a regression
// test (scripts/test), so it needs no clang.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::error_code error;
    if (fs::is_directory(arg, error)) {
      for (const auto& entry : fs::directory_iterator(arg)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else if (fs::is_regular_file(arg, error)) {
      inputs.push_back(arg);
    } else {
      std::fprintf(stderr, "replay: no such input: %s\n", argv[i]);
      return 2;
    }
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
      std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
      return 2;
    }
    // A copy of exactly the input's size, so that a read past its end is
    // seen by the address sanitizer.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    std::uint8_t* copy = data.empty() ? nullptr : new std::uint8_t[data.size()];
    std::copy(data.begin(), data.end(), copy);
    std::fprintf(stderr, "replay: %s\n", input.c_str());
    LLVMFuzzerTestOneInput(copy, data.size());
    delete[] copy;
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}

#pragma once
// Scratch folders and small file helpers of the net tests.
#include <string>

#include "runtime/bytes.h"
#include "runtime/files.h"
#include "tests/support/temp_folder.h"

namespace nettest {

// The net tests' scratch folder.
class TempFolder : public testsupport::TempFolder {
 public:
  TempFolder() : testsupport::TempFolder("net_test_tmp") {}
};

inline std::string ReadText(const std::string& path) {
  const rt::Bytes bytes = rt::ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

inline void WriteText(const std::string& path, const std::string& text) {
  rt::WriteWholeFile(path, rt::Bytes(text.begin(), text.end()));
}

}  // namespace nettest

#include "runtime/encoding.h"
#include "tools/patchtool/arguments.h"

namespace patchtool {

bool GbkArguments(int argc, char** argv, std::vector<rt::Text>* out, std::string* error) {
  out->clear();
  for (int i = 1; i < argc; ++i) {
    bool ok = true;
    rt::Text gbk = rt::Utf8ToGbk(argv[i], &ok);
    if (!ok) {
      *error = argv[i];
      return false;
    }
    out->push_back(gbk);
  }
  return true;
}

}  // namespace patchtool

#include <cstdio>

#include "runtime/dialog.h"
#include "runtime/encoding.h"

namespace rt {

// Without a window system the box becomes a line on standard error, and the
// answer is the cautious one for its buttons.
int32_t ShowMessage(const Text& content, uint32_t flags, const Text& caption) {
  std::fprintf(stderr, "%s %s\n", GbkToUtf8(caption).c_str(), GbkToUtf8(content).c_str());
  switch (flags & 0xF) {
    case kMsgOkCancel: return kResultCancel;
    case kMsgAbortRetryIgnore: return kResultAbort;
    case kMsgYesNoCancel: return kResultCancel;
    case kMsgYesNo: return kResultNo;
    case kMsgRetryCancel: return kResultCancel;
    default: return kResultOk;
  }
}

}  // namespace rt

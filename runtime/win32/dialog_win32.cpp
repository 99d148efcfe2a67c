#include "runtime/dialog.h"
#include "runtime/win32/wide.h"
#include "runtime/win32/win.h"

namespace rt {

int32_t ShowMessage(const Text& content, uint32_t flags, const Text& caption) {
  UINT style = flags;
  if (!(style & MB_SYSTEMMODAL)) style |= MB_TASKMODAL;
  int pressed = MessageBoxW(nullptr, Wide(content).c_str(), Wide(caption).c_str(), style);
  // IDOK (1) .. IDNO (7) become 0 .. 6.
  return pressed >= IDOK && pressed <= IDNO ? pressed - IDOK : -1;
}

}  // namespace rt

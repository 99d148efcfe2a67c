#pragma once
// Modal message boxes.
#include <cstdint>

#include "runtime/types.h"

namespace rt {

// Button and icon flags (the Windows MB_ values).
constexpr uint32_t kMsgOk = 0x0;
constexpr uint32_t kMsgOkCancel = 0x1;
constexpr uint32_t kMsgAbortRetryIgnore = 0x2;
constexpr uint32_t kMsgYesNoCancel = 0x3;
constexpr uint32_t kMsgYesNo = 0x4;
constexpr uint32_t kMsgRetryCancel = 0x5;
constexpr uint32_t kMsgIconError = 0x10;
constexpr uint32_t kMsgIconQuestion = 0x20;
constexpr uint32_t kMsgIconWarning = 0x30;
constexpr uint32_t kMsgIconInformation = 0x40;
constexpr uint32_t kMsgSystemModal = 0x1000;

// Results: the button pressed.
enum MessageResult : int32_t {
  kResultOk = 0,
  kResultCancel = 1,
  kResultAbort = 2,
  kResultRetry = 3,
  kResultIgnore = 4,
  kResultYes = 5,
  kResultNo = 6,
};

// A modal box owned by no window, task-modal unless `flags` ask for system-
// modal. Without a window system (POSIX) the text goes to standard error and
// the cautious answer comes back (OK, Cancel, Abort or No).
int32_t ShowMessage(const Text& content, uint32_t flags = kMsgOk, const Text& caption = "信息：");

}  // namespace rt

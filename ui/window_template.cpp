#include "ui/window_template.h"

#include <cstring>

#include "ui/window_port.h"

namespace ui {
namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kYellow{255, 255, 0};
constexpr Rgb kSilver{192, 192, 192};
constexpr Rgb kOrange{192, 96, 0};
constexpr Rgb kKeyBlue{0, 0, 255};
constexpr FontSpec kDefaultFont{nullptr, 0, 0};
constexpr FontSpec kTitleFont{"宋体", 12, 400};

using K = ComponentKind;
using H = HAlign;
using V = VAlign;
using E = EventHandler;
using I = SkinImage;

}  // namespace

const WindowRow kUpdaterWindow = {
    "版本更新", 468, 190, 50, 50, true, I::kBackground, E::kResetProgressBar, E::kCheckRemoteVersion,
};

// clang-format off
const ComponentRow kUpdaterComponents[] = {
  // kind, name, left, top, width, height, text, text colour, back colour, font,
  // align h/v, wrap, effect, faces, key?, key, cursor, visible, disabled, interval, event
  {K::kPicBtn, kMinimizeButton, 406, 3, 24, 24, "", kBlack, kBlack, kDefaultFont,
   H::kLeft, V::kTop, false, TextEffect::kNone,
   {I::kMinimize1, I::kMinimize2, I::kNone, I::kNone}, true, kKeyBlue, 0, true, false, 0, E::kMinimizeWindow},
  {K::kPicBtn, kCloseButton, 438, 3, 24, 24, "", kBlack, kBlack, kDefaultFont,
   H::kLeft, V::kTop, false, TextEffect::kNone,
   {I::kClose1, I::kClose2, I::kNone, I::kNone}, true, kKeyBlue, 0, true, false, 0, E::kConfirmExit},
  {K::kTransLabel, kGameTitleLabel, 24, 43, 216, 32, "game", kYellow, kBlack, kTitleFont,
   H::kLeft, V::kCenter, false, TextEffect::kNone,
   {I::kNone, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, true, false, 0, E::kNone},
  {K::kLabel, kProgressFill, 8, 8, 14, 15, "", kBlack, kBlack, kDefaultFont,
   H::kLeft, V::kTop, false, TextEffect::kNone,
   {I::kBarFill, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, true, false, 0, E::kNone},
  {K::kTimer, kProgressTimer, 0, 0, 0, 0, "", kBlack, kBlack, kDefaultFont,
   H::kLeft, V::kTop, false, TextEffect::kNone,
   {I::kNone, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, false, false, 0, E::kDownloadProgressTimer},
  {K::kPicBox, kProgressBackground, 22, 163, 312, 15, "", kBlack, kBlack, kDefaultFont,
   H::kLeft, V::kTop, false, TextEffect::kNone,
   {I::kBarBackground, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, true, false, 0, E::kNone},
  {K::kPicBtn, kEnterGameButton, 362, 128, 88, 54, "", kBlack, kBlack, kDefaultFont,
   H::kLeft, V::kTop, false, TextEffect::kNone,
   {I::kEnterGame1, I::kEnterGame2, I::kEnterGame3, I::kNone}, false, kBlack, kHandCursor, true, true, 0, E::kLaunchGame},
  {K::kTransLabel, kCurrentTaskLabel, 88, 100, 248, 18, "N/A", kSilver, kBlack, kDefaultFont,
   H::kLeft, V::kCenter, false, TextEffect::kNone,
   {I::kNone, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, true, false, 0, E::kNone},
  {K::kTransLabel, kPatchSizeLabel, 88, 117, 248, 18, "N/A", kSilver, kBlack, kDefaultFont,
   H::kLeft, V::kCenter, false, TextEffect::kNone,
   {I::kNone, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, true, false, 0, E::kNone},
  {K::kTransLabel, kSpeedLabel, 88, 134, 248, 18, "N/A", kSilver, kBlack, kDefaultFont,
   H::kLeft, V::kCenter, false, TextEffect::kNone,
   {I::kNone, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, true, false, 0, E::kNone},
  {K::kLabel, kSpeedCaption, 17, 134, 61, 18, "下载速度:", kOrange, kBlack, kDefaultFont,
   H::kRight, V::kCenter, false, TextEffect::kNone,
   {I::kNone, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, true, false, 0, E::kNone},
  {K::kLabel, kPatchCaption, 17, 117, 61, 18, "补丁状态:", kOrange, kBlack, kDefaultFont,
   H::kRight, V::kCenter, false, TextEffect::kNone,
   {I::kNone, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, true, false, 0, E::kNone},
  {K::kLabel, kTaskCaption, 17, 100, 61, 18, "更新信息:", kOrange, kBlack, kDefaultFont,
   H::kRight, V::kCenter, false, TextEffect::kNone,
   {I::kNone, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, true, false, 0, E::kNone},
  {K::kTransLabel, kDragStrip, 8, 6, 424, 27, "", kBlack, kBlack, kDefaultFont,
   H::kLeft, V::kTop, false, TextEffect::kNone,
   {I::kNone, I::kNone, I::kNone, I::kNone}, false, kBlack, 0, true, false, 0, E::kDragWindow},
};
// clang-format on

const std::size_t kUpdaterComponentCount = sizeof(kUpdaterComponents) / sizeof(kUpdaterComponents[0]);

const ComponentRow* FindComponentRow(const char* name) {
  for (std::size_t i = 0; i < kUpdaterComponentCount; ++i) {
    if (std::strcmp(kUpdaterComponents[i].name, name) == 0) return &kUpdaterComponents[i];
  }
  return nullptr;
}

}  // namespace ui

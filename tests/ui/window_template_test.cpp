// The window template as data: faults here would only show as a wrong
// window, so the rows are checked against the layout rules they encode.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "ui/window_port.h"
#include "ui/window_template.h"

namespace ui {
namespace {

std::size_t IndexOf(const char* name) {
  const ComponentRow* row = FindComponentRow(name);
  EXPECT_NE(row, nullptr) << name;
  return row ? static_cast<std::size_t>(row - kUpdaterComponents) : kUpdaterComponentCount;
}

TEST(WindowTemplate, FourteenUniqueNamedRows) {
  ASSERT_EQ(kUpdaterComponentCount, 14u);
  std::set<std::string> names;
  for (std::size_t i = 0; i < kUpdaterComponentCount; ++i) names.insert(kUpdaterComponents[i].name);
  EXPECT_EQ(names.size(), kUpdaterComponentCount);
  // Every name the flow uses has a row.
  for (const char* name : {kMinimizeButton, kCloseButton, kGameTitleLabel, kProgressFill, kProgressTimer,
                           kProgressBackground, kEnterGameButton, kCurrentTaskLabel, kPatchSizeLabel, kSpeedLabel,
                           kSpeedCaption, kPatchCaption, kTaskCaption, kDragStrip}) {
    EXPECT_NE(FindComponentRow(name), nullptr) << name;
  }
  EXPECT_EQ(FindComponentRow("标签_不存在"), nullptr);
}

TEST(WindowTemplate, VisibleComponentsInsideTheWindow) {
  for (std::size_t i = 0; i < kUpdaterComponentCount; ++i) {
    const ComponentRow& r = kUpdaterComponents[i];
    if (!r.visible) continue;
    SCOPED_TRACE(r.name);
    EXPECT_GE(r.left, 0);
    EXPECT_GE(r.top, 0);
    EXPECT_GT(r.width, 0);
    EXPECT_GT(r.height, 0);
    EXPECT_LE(r.left + r.width, kUpdaterWindow.client_width);
    EXPECT_LE(r.top + r.height, kUpdaterWindow.client_height);
  }
}

TEST(WindowTemplate, OverlapsStackAsTheMouseAndBarNeed) {
  // Earlier rows lie above later ones: the small buttons over the drag strip
  // (so they get their clicks), the fill over the bar background.
  EXPECT_LT(IndexOf(kMinimizeButton), IndexOf(kDragStrip));
  EXPECT_LT(IndexOf(kCloseButton), IndexOf(kDragStrip));
  EXPECT_LT(IndexOf(kProgressFill), IndexOf(kProgressBackground));
  const ComponentRow& back = *FindComponentRow(kProgressBackground);
  EXPECT_EQ(back.width, kBarWidth);
  EXPECT_EQ(FindComponentRow(kProgressFill)->faces[0], SkinImage::kBarFill);
  EXPECT_EQ(back.faces[0], SkinImage::kBarBackground);
}

TEST(WindowTemplate, KindsEventsAndInitialState) {
  struct Expect {
    const char* name;
    ComponentKind kind;
    EventHandler event;
  };
  const Expect expected[] = {
      {kMinimizeButton, ComponentKind::kPicBtn, EventHandler::kMinimizeWindow},
      {kCloseButton, ComponentKind::kPicBtn, EventHandler::kConfirmExit},
      {kEnterGameButton, ComponentKind::kPicBtn, EventHandler::kLaunchGame},
      {kProgressTimer, ComponentKind::kTimer, EventHandler::kDownloadProgressTimer},
      {kDragStrip, ComponentKind::kTransLabel, EventHandler::kDragWindow},
      {kProgressFill, ComponentKind::kLabel, EventHandler::kNone},
      {kCurrentTaskLabel, ComponentKind::kTransLabel, EventHandler::kNone},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name);
    const ComponentRow& row = *FindComponentRow(e.name);
    EXPECT_EQ(row.kind, e.kind);
    EXPECT_EQ(row.event, e.event);
    if (row.kind == ComponentKind::kPicBtn) {
      EXPECT_NE(row.faces[0], SkinImage::kNone);
    }
  }
  EXPECT_TRUE(FindComponentRow(kEnterGameButton)->disabled);
  EXPECT_EQ(FindComponentRow(kProgressTimer)->timer_interval_ms, 0);
  for (const char* value : {kCurrentTaskLabel, kPatchSizeLabel, kSpeedLabel}) {
    EXPECT_STREQ(FindComponentRow(value)->text, "N/A") << value;
  }
  // The small buttons are cut by pure blue; nothing else has a key colour.
  for (std::size_t i = 0; i < kUpdaterComponentCount; ++i) {
    const ComponentRow& r = kUpdaterComponents[i];
    const bool small_button =
        std::strcmp(r.name, kMinimizeButton) == 0 || std::strcmp(r.name, kCloseButton) == 0;
    EXPECT_EQ(r.has_key_color, small_button) << r.name;
    if (small_button) {
      EXPECT_TRUE(r.key_color == (Rgb{0, 0, 255}));
    }
  }
  EXPECT_EQ(kUpdaterWindow.on_created, EventHandler::kResetProgressBar);
  EXPECT_EQ(kUpdaterWindow.on_first_activation, EventHandler::kCheckRemoteVersion);
}

}  // namespace
}  // namespace ui

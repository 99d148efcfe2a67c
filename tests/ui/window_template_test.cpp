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

}  // namespace
}  // namespace ui

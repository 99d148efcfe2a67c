// The window's own handlers: parking the progress fill and the exit question.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/dialog.h"
#include "tests/ui/recording_port.h"
#include "ui/window_events.h"

namespace ui {
namespace {

using testing::RecordingPort;

TEST(ResetProgressBar, ParksFillOnBarBackgroundInOrder) {
  RecordingPort port;
  // Wherever the bar background is, the fill goes onto its top-left corner.
  port.props[kProgressBackground].left = 30;
  port.props[kProgressBackground].top = 170;
  ResetProgressBar(port);
  const std::vector<std::string> expected = {
      "EnableVisualStyles",
      std::string("SetWidth ") + kProgressFill,
      std::string("SetTop ") + kProgressFill,
      std::string("SetLeft ") + kProgressFill,
  };
  EXPECT_EQ(port.calls, expected);
  EXPECT_EQ(port.props[kProgressFill].width, 0);
  EXPECT_EQ(port.props[kProgressFill].left, 30);
  EXPECT_EQ(port.props[kProgressFill].top, 170);
}

TEST(ConfirmExit, AsksAndEndsOnlyOnYes) {
  struct Case {
    const char* what;
    int32_t answer;
    rt::ThreadHandle thread;
    std::vector<std::string> expected;  // system steps in order
  };
  const Case cases[] = {
      {"no keeps everything", rt::kResultNo, 77, {"ask"}},
      {"closed box counts as no", rt::kResultCancel, 77, {"ask"}},
      {"yes kills the worker, then ends", rt::kResultYes, 77, {"ask", "kill 77", "end 0"}},
      {"yes without a worker still ends", rt::kResultYes, 0, {"ask", "end 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> steps_taken;
    ExitSteps steps;
    steps.ask = [&](const rt::Text& content, uint32_t flags, const rt::Text& caption) {
      steps_taken.push_back("ask");
      EXPECT_EQ(content, "确定要退出更新程序嘛？");
      EXPECT_EQ(caption, "确认退出");
      EXPECT_EQ(flags, 0x44u);
      return c.answer;
    };
    steps.kill_thread = [&](rt::ThreadHandle t) {
      steps_taken.push_back("kill " + std::to_string(t));
      return true;
    };
    steps.end_program = [&](int32_t code) { steps_taken.push_back("end " + std::to_string(code)); };
    ConfirmExit(c.thread, steps);
    EXPECT_EQ(steps_taken, c.expected);
  }
}

}  // namespace
}  // namespace ui

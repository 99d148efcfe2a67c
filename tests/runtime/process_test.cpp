#include <gtest/gtest.h>

#include <atomic>

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/thread.h"

using namespace rt;

TEST(CommandLine, SplittingSkipsTheProgramAndHonoursQuotes) {
  struct Case {
    Text line;
    TextArray expected;
  } cases[] = {
      {"", {}},
      {"prog", {}},
      {"\"C:\\Program Files\\x.exe\"", {}},
      {"prog a b", {"a", "b"}},
      {"\"C:\\a b\\prog.exe\" gxin launcher.exe", {"gxin", "launcher.exe"}},
      {"prog  \t a\r\n\x01 b ", {"a", "b"}},
      {"prog \"two words\" x", {"two words", "x"}},
      {"prog \"unterminated arg", {"unterminated arg"}},
      {"prog \"\" x", {"", "x"}},
      {"C:\\a b\\update.dat gxin launcher.exe", {"b\\update.dat", "gxin", "launcher.exe"}},
      {"prog 中文 \"带 空格\"", {"中文", "带 空格"}},
      // A lead byte keeps its trail byte even when the trail is below "!".
      {"prog \x81\x20x y", {"\x81\x20x", "y"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.expected) << c.line;
}

TEST(CommandLine, ShowModesAreClampedIntoOneToSix) {
  struct Case {
    int32_t mode, clamped, show_command;
  } cases[] = {{-5, 1, 0}, {0, 1, 0}, {1, 1, 0}, {2, 2, 1}, {3, 3, 2},
               {4, 4, 3},  {5, 5, 4}, {6, 6, 7}, {9, 6, 7}, {1000, 6, 7}};
  for (const auto& c : cases) {
    EXPECT_EQ(ClampShowMode(c.mode), c.clamped) << c.mode;
    EXPECT_EQ(ShowModeToShowCommand(c.mode), c.show_command) << c.mode;
  }
}

TEST(Process, RunDirectoryAndExecutableNameSplitTheOwnPath) {
  Text dir = RunDirectory(), name = ExecutableName();
  EXPECT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '\\');
  EXPECT_NE(dir.back(), '/');
  EXPECT_EQ(FindText(name, "runtime_tests"), 1);
  EXPECT_TRUE(FileExists(dir + "\\" + name));
}

namespace {

Text ChildPath() {
#ifdef _WIN32
  return RunDirectory() + "\\runtime_child.exe";
#else
  return RunDirectory() + "/runtime_child";
#endif
}

TextArray RunChild(const Text& arguments, int32_t show_mode) {
  Text out = "child output.txt";
  RemoveFile(out);
  EXPECT_TRUE(RunProgram("\"" + ChildPath() + "\" \"" + out + "\" " + arguments, true, show_mode));
  return SplitText(ToText(ReadWholeFile(out)), "\n");
}

}  // namespace

TEST(Process, ChildReceivesArgumentsAndShowMode) {
  TextArray lines = RunChild("gxin \"启动 器.exe\" 第三", 9);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "gxin|启动 器.exe|第三");
#ifdef _WIN32
  EXPECT_EQ(lines[1], "7");  // 9 is taken as 6: minimised without activation
  EXPECT_EQ(RunChild("x", 0)[1], "0");  // 0 is taken as 1: hidden
  EXPECT_EQ(RunChild("x", kShowNormal)[1], "1");
#endif
  EXPECT_FALSE(RunProgram("\"" + RunDirectory() + "\\no such program.exe\"", false));
  EXPECT_FALSE(RunProgram("", false));
}

TEST(Process, DelayWaitsAtLeastTheTimeAsked) {
  uint32_t start = TickCount();
  DelayWithEvents(120);
  EXPECT_GE(TickCount() - start, 115u);  // tick granularity
  start = TickCount();
  DelayWithEvents(0);
  DelayWithEvents(-5);
  EXPECT_LT(TickCount() - start, 100u);
  ProcessEvents();  // nothing queued: returns at once
}

namespace {
std::atomic<int> g_seen{0};
void Record(void* parameter) { g_seen = *static_cast<int*>(parameter); }
void Spin(void*) {
  for (;;) DelayWithEvents(10);
}
}  // namespace

TEST(Threads, StartPassesTheParameterAndKillEndsASpinningThread) {
  int value = 42;
  ThreadHandle handle = 0;
  ASSERT_TRUE(StartThread(Record, &value, &handle));
  ASSERT_NE(handle, 0u);
  EXPECT_TRUE(JoinThread(handle, 5000));
  CloseThreadHandle(handle);
  EXPECT_EQ(g_seen, 42);

  ASSERT_TRUE(StartThread(Spin, nullptr, &handle));
  EXPECT_FALSE(JoinThread(handle, 50));
  EXPECT_TRUE(KillThread(handle));
  EXPECT_TRUE(JoinThread(handle, 5000));
  CloseThreadHandle(handle);
  EXPECT_FALSE(KillThread(0));
  EXPECT_FALSE(StartThread(nullptr));
}

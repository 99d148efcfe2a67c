#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/instance.h"
#include "runtime/lock.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/thread.h"
#include "tests/support/temp_folder.h"
#ifdef _WIN32
#include "runtime/win32/unique_handle.h"
#include "runtime/win32/wide.h"
#include "runtime/win32/win.h"
#endif

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

TextArray RunChild(const Text& arguments, int32_t show_mode, const Text& program = ChildPath()) {
  Text out = "child output.txt";
  RemoveFile(out);
  EXPECT_TRUE(RunProgram("\"" + program + "\" \"" + out + "\" " + arguments, true, show_mode));
  return SplitText(ToText(ReadWholeFile(out)), "\n");
}

}  // namespace

TEST(Process, ChildReceivesArgumentsAndShowMode) {
  TextArray lines = RunChild("gxin \"启动 器.exe\" 第三", 9);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "gxin|启动 器.exe|第三");
#ifdef _WIN32
  EXPECT_EQ(lines[1], "7");  // 9 is taken as 6: minimised without activation
  EXPECT_EQ(RunChild("x", 0)[1], "0");  // 0 is taken as 1: hidden
  EXPECT_EQ(RunChild("x", kShowNormal)[1], "1");
#endif
  EXPECT_FALSE(RunProgram("\"" + RunDirectory() + "\\no such program.exe\"", false));
  EXPECT_FALSE(RunProgram("", false));
}

TEST(Process, OwnPathSplitsAtSeparatorCharactersNotTrailBytes) {
  // The second byte of 運 and 遊 in GBK is 0x5C, the byte of "\".
  const Text folder = RunDirectory() + "\\運行 目录";
#ifdef _WIN32
  const Text name = "運行遊戲.exe";
#else
  const Text name = "運行遊戲";
#endif
  CreateFolderTree(folder);
  ASSERT_TRUE(CopyFile(ChildPath(), folder + "\\" + name));
  TextArray lines = RunChild("x", kShowNormal, folder + "\\" + name);
  ASSERT_EQ(lines.size(), 3u);
  TextArray own = SplitText(lines[2], "|");
  ASSERT_EQ(own.size(), 2u) << lines[2];
#ifdef _WIN32
  EXPECT_EQ(own[0], folder);
#else
  EXPECT_EQ(own[0], RunDirectory() + "/運行 目录");
#endif
  EXPECT_EQ(own[1], name);
  RemoveFile(folder + "\\" + name);
}

#ifdef _WIN32
TEST(Process, FolderThatGbkCannotWriteIsReachedThroughItsShortForm) {
  // "Björk été": no GBK character for ö and é. The child is started by its
  // long path, so its own module path holds them.
  const std::wstring folder = Wide(RunDirectory()) + L"\\Bj\x00F6rk \x00E9t\x00E9";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring child = folder + L"\\runtime_child.exe";
  ASSERT_TRUE(CopyFileW(Wide(ChildPath()).c_str(), child.c_str(), FALSE));
  const Text out = "child output.txt";
  RemoveFile(out);
  std::wstring command = L"\"" + child + L"\" \"" + Wide(out) + L"\" x";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  TextArray lines = SplitText(ToText(ReadWholeFile(out)), "\n");
  ASSERT_EQ(lines.size(), 3u);
  TextArray own = SplitText(lines[2], "|");
  ASSERT_EQ(own.size(), 2u) << lines[2];
  EXPECT_EQ(FindText(own[0], "?"), -1) << own[0];
  EXPECT_TRUE(FolderExists(own[0])) << own[0];
  EXPECT_TRUE(FileExists(own[0] + "\\" + own[1])) << own[1];
  DeleteFileW(child.c_str());
  RemoveDirectoryW(folder.c_str());
}
#endif

TEST(Text, FindLastCharSkipsTrailBytes) {
  struct Case {
    Text text;
    size_t want;
  } const cases[] = {
      {"", Text::npos},         {"運", Text::npos},        {"a\\運", 1},     {"運\\", 2},
      {"a\\b\\c", 3},       {"\x81", Text::npos},     {"\\\x81", 0},    {"運行遊戲.exe", Text::npos},
  };
  for (const Case& c : cases) EXPECT_EQ(FindLastChar(c.text, '\\'), c.want) << c.text;
  EXPECT_EQ(ReplaceChar("運\\a\\運", '\\', '/'), "運/a/運");
  EXPECT_EQ(ReplaceChar("\x81", '\\', '/'), "\x81");
  EXPECT_EQ(ReplaceChar("", '\\', '/'), "");
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

// Several threads adding to one plain counter under the lock: no addition
// is lost. The threads are started without a handle and say when they end.
struct Counting {
  Lock lock;
  int64_t counter = 0;  // guarded by lock
  std::atomic<int> ended{0};
};
constexpr int kCountingThreads = 4;
constexpr int kAdditionsEach = 20000;
void AddUnderLock(void* parameter) {
  auto& counting = *static_cast<Counting*>(parameter);
  for (int i = 0; i < kAdditionsEach; ++i) {
    std::lock_guard<Lock> hold(counting.lock);
    counting.counter = counting.counter + 1;
  }
  counting.ended.fetch_add(1);
}

TEST(Threads, LockKeepsEveryAdditionOfSeveralThreads) {
  Counting counting;
  for (int t = 0; t < kCountingThreads; ++t) ASSERT_TRUE(StartThread(AddUnderLock, &counting));
  // Bounded: 30 s at most.
  for (int wait = 0; wait < 3000 && counting.ended.load() < kCountingThreads; ++wait) DelayWithEvents(10);
  ASSERT_EQ(counting.ended.load(), kCountingThreads);
  std::lock_guard<Lock> hold(counting.lock);
  EXPECT_EQ(counting.counter, int64_t{kCountingThreads} * kAdditionsEach);
}

TEST(Threads, StartPassesTheParameterAndKillEndsASpinningThread) {
  int value = 42;
  ThreadHandle handle = 0;
  ASSERT_TRUE(StartThread(Record, &value, &handle));
  ASSERT_NE(handle, 0u);
  EXPECT_TRUE(JoinThread(handle, 5000));
  // An ended thread stays ended: a second wait, and the close after the
  // joins, are sound on either system.
  EXPECT_TRUE(JoinThread(handle, 0));
  EXPECT_TRUE(JoinThreadWithEvents(handle, kWaitForever));
  CloseThreadHandle(handle);
  EXPECT_EQ(g_seen, 42);

#ifndef __SANITIZE_ADDRESS__
  // Killing cancels asynchronously, from any instruction of the thread; the
  // address sanitizer's thread bookkeeping does not survive that (it reports
  // a stack overflow of its own at the thread's end). The plain native build
  // and the Windows build cover it.
  ASSERT_TRUE(StartThread(Spin, nullptr, &handle));
  EXPECT_FALSE(JoinThread(handle, 50));
  EXPECT_TRUE(KillThread(handle));
  EXPECT_TRUE(JoinThread(handle, 5000));
  CloseThreadHandle(handle);
#endif
  EXPECT_FALSE(KillThread(0));
  EXPECT_FALSE(StartThread(nullptr));
}

#ifdef _WIN32
// The launcher holds the folder's lock while it starts the updater and waits
// for it to be idle for input; the updater waits for that lock. A process
// waiting for the lock must count as idle, or every start waits out
// WaitForInputIdle's whole time-out.
TEST(InstanceLock, AProcessWaitingForTheLockIsIdleForInputAndGetsItWhenLetGo) {
  const testsupport::TempFolder folder("lock idle");
  const Text out = folder.Path("child output.txt");
  std::optional<InstanceLock> held;
  held.emplace(folder.path(), 0);
  ASSERT_TRUE(held->Owned());
  std::wstring command =
      Wide("\"" + RunDirectory() + "\\lock_child.exe\" \"" + out + "\" \"" + folder.path() + "\"");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  const UniqueHandle process_handle(process.hProcess), thread_handle(process.hThread);
  EXPECT_EQ(WaitForInputIdle(process.hProcess, 20000), 0u);  // not WAIT_TIMEOUT
  held.reset();
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(ToText(ReadWholeFile(out)), "owned");
}
#endif

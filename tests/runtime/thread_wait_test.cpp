// Waiting for a worker with the waiting thread's window messages let
// through: the wait ends with the worker or the time-out, and a worker that
// sends to the waiting thread's window (as the download run does) is served
// meanwhile instead of both waiting for ever.
#include <gtest/gtest.h>

#include <atomic>

#include "runtime/process.h"
#include "runtime/thread.h"

#ifdef _WIN32
#include "runtime/win32/win.h"
#endif

using namespace rt;

namespace {

std::atomic<bool> g_stop{false};

void WorkBriefly(void*) { DelayWithEvents(100); }
void WorkUntilStopped(void*) {
  // Bounded by the test: it sets g_stop within seconds.
  for (int i = 0; i < 1000 && !g_stop; ++i) DelayWithEvents(10);
}

}  // namespace

TEST(ThreadWait, EndsWithTheThreadOrTheTimeOut) {
  ThreadHandle handle = 0;
  ASSERT_TRUE(StartThread(WorkBriefly, nullptr, &handle));
  EXPECT_TRUE(JoinThreadWithEvents(handle, 5000));
  CloseThreadHandle(handle);

  g_stop = false;
  ASSERT_TRUE(StartThread(WorkUntilStopped, nullptr, &handle));
  const uint32_t started = TickCount();
  EXPECT_FALSE(JoinThreadWithEvents(handle, 100));
  EXPECT_GE(TickCount() - started, 90u);
  g_stop = true;
  EXPECT_TRUE(JoinThreadWithEvents(handle, kWaitForever));
  CloseThreadHandle(handle);
  EXPECT_FALSE(JoinThreadWithEvents(0, 10));
}

#ifdef _WIN32
namespace {

std::atomic<int> g_served{0};

LRESULT CALLBACK CountingWindow(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_APP) {
    ++g_served;
    return 7;
  }
  return DefWindowProcW(window, message, w, l);
}

HWND g_window = nullptr;
std::atomic<LRESULT> g_answer{0};

void SendToTheWindow(void*) { g_answer = SendMessageW(g_window, WM_APP, 0, 0); }

}  // namespace

TEST(ThreadWait, AWorkerSendingToTheWaitingThreadsWindowIsServed) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = CountingWindow;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"ThreadWaitTest";
  ASSERT_NE(RegisterClassW(&window_class), 0);
  g_window = CreateWindowW(L"ThreadWaitTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           window_class.hInstance, nullptr);
  ASSERT_NE(g_window, nullptr);
  ThreadHandle handle = 0;
  ASSERT_TRUE(StartThread(SendToTheWindow, nullptr, &handle));
  EXPECT_TRUE(JoinThreadWithEvents(handle, 5000));  // a plain wait would hang here
  CloseThreadHandle(handle);
  EXPECT_EQ(g_served, 1);
  EXPECT_EQ(g_answer, 7);
  DestroyWindow(g_window);
  UnregisterClassW(L"ThreadWaitTest", window_class.hInstance);
}
#endif

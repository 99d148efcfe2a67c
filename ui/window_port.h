#pragma once
// The flow's view of the updater window: component properties addressed by
// component name. Every call may come from the worker thread as well as from
// the window thread; the Win32 implementation marshals calls from other
// threads to the window thread and waits until they are done, so each change
// takes effect as if made on the window thread. No Win32 type appears here, so
// the flow code and its tests never see a window handle.
#include <cstdint>

#include "runtime/types.h"

namespace ui {

// Component names of the window template (GBK literals).
inline constexpr const char* kMinimizeButton = "图形按钮_最小化";
inline constexpr const char* kCloseButton = "按钮_关闭";
inline constexpr const char* kGameTitleLabel = "透明标签_游戏名称";
inline constexpr const char* kProgressFill = "标签_下载进度条";
inline constexpr const char* kProgressTimer = "时钟_下载信息";
inline constexpr const char* kProgressBackground = "图片框_进度条背景";
inline constexpr const char* kEnterGameButton = "按钮_进入游戏";
inline constexpr const char* kCurrentTaskLabel = "标签_当前任务";
inline constexpr const char* kPatchSizeLabel = "标签_补丁大小";
inline constexpr const char* kSpeedLabel = "标签_下载速度";
inline constexpr const char* kSpeedCaption = "标签_速度";
inline constexpr const char* kPatchCaption = "标签_进度";
inline constexpr const char* kTaskCaption = "标签_进度1";
inline constexpr const char* kDragStrip = "标签_移动窗口";

class WindowPort {
 public:
  virtual ~WindowPort() = default;

  virtual void SetCaption(const rt::Text& component, const rt::Text& caption) = 0;
  virtual rt::Text Caption(const rt::Text& component) = 0;
  virtual void SetLeft(const rt::Text& component, int32_t left) = 0;
  virtual void SetTop(const rt::Text& component, int32_t top) = 0;
  virtual void SetWidth(const rt::Text& component, int32_t width) = 0;
  virtual int32_t Left(const rt::Text& component) = 0;
  virtual int32_t Top(const rt::Text& component) = 0;
  virtual int32_t Width(const rt::Text& component) = 0;
  virtual void SetDisabled(const rt::Text& component, bool disabled) = 0;
  virtual bool Disabled(const rt::Text& component) = 0;
  // Milliseconds; 0 (or negative) stops the timer.
  virtual void SetTimerInterval(const rt::Text& component, int32_t interval_ms) = 0;
  virtual int32_t TimerInterval(const rt::Text& component) = 0;
  // Runs a running timer's event now, on the window thread, as if it had
  // ticked (a stopped timer runs nothing): a worker that changed what the
  // timer shows has it shown at once by the timer's own handler.
  virtual void TickNow(const rt::Text& component) = 0;
  virtual void SetTag(const rt::Text& component, const rt::Text& tag) = 0;
  virtual rt::Text Tag(const rt::Text& component) = 0;

  // Turns on the operating system's visual styles for the window thread.
  virtual void EnableVisualStyles() = 0;
  // Minimises the window as the system's minimise command does.
  virtual void Minimize() = 0;
  // Starts moving the window with the mouse (a caption-bar press).
  virtual void BeginDrag() = 0;
  // Asks for the window to be destroyed; posted, so it happens after the
  // caller's event handler has returned.
  virtual void Close() = 0;
};

}  // namespace ui

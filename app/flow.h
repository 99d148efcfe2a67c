#pragma once
// What the update flow works with: the shared globals, the window (through
// its component port) and the services that reach outside the process. The
// services default to the real ones; tests replace them.
#include <atomic>
#include <cstdint>
#include <functional>

#include "app/globals.h"
#include "net/download_url.h"
#include "runtime/fetch.h"
#include "runtime/file_access.h"
#include "runtime/types.h"
#include "ui/window_port.h"

namespace app {

struct FlowServices {
  // Whole-body fetch of the remote list, with how it ended.
  std::function<rt::FetchResult(const rt::Text& url)> fetch_url;
  // One patch file from its URL (escaped, split) into a local path; 0 on
  // success, otherwise the engine's result code.
  std::function<int32_t(const net::DownloadUrl& url, const rt::Text& path, std::atomic<int32_t>& total,
                        std::atomic<int32_t>& done)>
      download;
  // Starts the download run on the worker thread; true when it started.
  std::function<bool()> start_download_run;
  // Starts a program without waiting for it.
  std::function<bool(const rt::Text& command_line)> run_program;
  // Shows a message box; returns the button.
  std::function<int32_t(const rt::Text& text, uint32_t flags, const rt::Text& caption)> show_message;
  // Ends the updater (does not return in the real program).
  std::function<void(int32_t exit_code)> end_program;
  // Lets window messages through (between files and chunks of the checksum).
  std::function<void()> process_events;
  // Wait before each file and between tries; window messages get through
  // on the window thread.
  std::function<void(int32_t ms)> delay;
  // Milliseconds since an arbitrary start, for the durations in the log.
  std::function<uint32_t()> tick_count;
  // One line of update.log (the time is put in front); never fails the flow.
  std::function<void(const rt::Text& line)> log;
  // Write probes of the client folder and of a file about to be replaced.
  std::function<rt::AccessCheck(const rt::Text& folder)> probe_folder;
  std::function<rt::AccessCheck(const rt::Text& path)> probe_replaceable;
};

// The real services; `start_download_run` is the updater's own (it owns the
// worker thread).
FlowServices RealServices(std::function<bool()> start_download_run);

struct Flow {
  Globals& globals;
  ui::WindowPort* window = nullptr;
  FlowServices services;
};

// Texts of the flow, shown in the current-task label.
inline constexpr const char kTextChecking[] = "正在与远程版本进行比对,请稍后....";
inline constexpr const char kTextListFailed[] = "远程版本信息获取失败！不能更新。";
inline constexpr const char kTextUpToDate[] = "已是最新版本，无需更新！";
inline constexpr const char kTextFilesToUpdate[] = "有最新版本，共有%d个文件需要更新。";
inline constexpr const char kTextDownloadFailed[] = "加载下载引擎失败！更新失败。";
inline constexpr const char kTextUpdateDone[] = "更新结束,可以游戏了!";
inline constexpr const char kTextNotAvailable[] = "N/A";
inline constexpr const char kTextNoPayload[] = "异常错误!无法运行游戏!请重新安装客户端!";
inline constexpr const char kCaptionError[] = "发生错误";
inline constexpr const char kTextFolderUnusable[] =
    "客户端所在文件夹的名称含有无法识别的字符，无法更新。请把客户端放到名称只含中文或英文字符的文件夹中。";
// Shown while waiting before another try: the try and the tries there are.
inline constexpr const char kTextRetrying[] = "网络中断,正在重试(%d/%d)....";
// Short enough for the one-line label: what is wrong, then what to do.
inline constexpr const char kTextFolderNotWritable[] = "目录不可写!请以管理员运行或移动游戏";
inline constexpr const char kTextFileNotWritable[] = "%s无法写入!请以管理员运行";
inline constexpr const char kTextFileInUse[] = "%s被占用!请关闭游戏后再试";

// The version check: the handler of the window's first activation.
void CheckRemoteVersion(Flow& flow);
// The download run: the body of the worker thread. Ends the program after a
// successful run; returns after a failed one (the window stays).
void RunPatchDownloads(Flow& flow);
// The enter-game click.
void LaunchGame(Flow& flow);

// The folder part of a path: the bytes before its last "\", or empty.
rt::Text ParentFolderOf(const rt::Text& path);

}  // namespace app

#pragma once
// What the update flow works with: the shared state, the window (through
// its component port) and the services that reach outside the process. The
// services default to the real ones; tests replace them.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "app/shared_state.h"
#include "net/download_report.h"
#include "net/download_url.h"
#include "net/http_download.h"
#include "net/transfer_limits.h"
#include "runtime/fetch.h"
#include "runtime/file_access.h"
#include "runtime/types.h"
#include "ui/window_port.h"

namespace app {

struct FlowServices {
  // Whole-body fetch of the remote list, with how it ended. The real one runs
  // off the window thread, the window answering while it runs.
  std::function<rt::FetchResult(const rt::Text& url)> fetch_url;
  // One try of one patch file: the engine with the run's options (the URL,
  // the local path, the observer that verifies, the kept connection, ...),
  // its result with its reason. `total` and `done` are the try's progress
  // counters. Called on several transfer threads at once.
  std::function<net::DownloadReport(const net::DownloadOptions& options, std::atomic<int64_t>& total,
                                    std::atomic<int64_t>& done)>
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
  // Waits between tries (on the window thread window messages get through;
  // a transfer thread simply waits).
  std::function<void(int32_t ms)> delay;
  // Milliseconds since an arbitrary start, for the durations in the log.
  std::function<uint32_t()> tick_count;
  // One line of update.log (the time is put in front); never fails the flow.
  std::function<void(const rt::Text& line)> log;
  // Write probes of the client folder and of a file about to be replaced.
  std::function<rt::AccessCheck(const rt::Text& folder)> probe_folder;
  std::function<rt::AccessCheck(const rt::Text& path)> probe_replaceable;
  // Values kept for the user across runs and client folders (the registry on
  // Windows): the highest list sequence accepted.
  std::function<std::optional<rt::Text>(const rt::Text& key, const rt::Text& name)> read_user_value;
  std::function<bool(const rt::Text& key, const rt::Text& name, const rt::Text& value)> write_user_value;
  // Today as days since 1970-01-01, UTC: a signed list's expiry.
  std::function<int64_t()> utc_day;
  // The bytes this user may still write on the disk of a folder, -1 when
  // that cannot be told.
  std::function<int64_t(const rt::Text& folder)> free_disk_space;
  // Hook for the checksum cache: a file the run has just installed (`path`,
  // the client folder's path of the entry), its checksum the list's
  // (verified). Called on the transfer threads, one call at a time. Nothing
  // when empty. The real one: ChecksumCache::RecordInstalled(entry).
  std::function<void(const PatchEntry& entry, const rt::Text& path)> record_installed;
  // The link a path below the client folder goes through, empty when none
  // (rt::FindLinkBelow).
  std::function<rt::Text(const rt::Text& base, const rt::Text& path)> find_link;
  // The time in file-time ticks (rt::FileTimeNow): when a checksum record is
  // made.
  std::function<uint64_t()> file_time_now;
};

// Files the download run fetches at once, each on its own thread with its
// own kept connections (one per mirror): never more than 8 connections to
// one host. Chosen with bench/latency (see README).
inline constexpr int32_t kTransfers = 6;
// How often the run copies the progress of the file the window shows into
// the progress record: well within the display's 100 ms tick.
inline constexpr int32_t kPublishMs = 40;

// The download run's numbers, in one place; tests give their own.
struct RunSettings {
  int32_t transfers = kTransfers;
  net::TransferLimits limits;  // every try's receive wait, stall rule and floor rate
  int32_t publish_ms = kPublishMs;
};

// The real services; `start_download_run` is the updater's own (it owns the
// worker thread). The log goes to update.log in the state's client folder;
// installed files are recorded in the state's checksum cache.
FlowServices RealServices(SharedState& state, std::function<bool()> start_download_run);

struct Flow {
  SharedState& state;
  ui::WindowPort* window = nullptr;
  FlowServices services;
  RunSettings run;
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
// Files failed, and the user's proxy setting is one the download engine
// cannot follow (a configuration script, automatic detection, SOCKS, ...).
inline constexpr const char kTextProxyUnsupported[] = "代理设置不受支持!请改用HTTP代理或直接连接";
// A path of the client that leads through a link (to somewhere outside).
inline constexpr const char kTextPathIsLink[] = "%s是链接!请移除后再试";
// The disk is full; the second names the room still needed ("1.5 GB").
inline constexpr const char kTextDiskFull[] = "磁盘空间不足!请清理磁盘后再试";
inline constexpr const char kTextDiskFullNeed[] = "磁盘空间不足!还需%s,请清理磁盘后再试";
// The launcher's copy of itself could not be written whole (message box).
inline constexpr const char kTextCopyFailed[] = "无法写入update.dat!请以管理员运行或移动游戏";

// The version check: the handler of the window's first activation.
void CheckRemoteVersion(Flow& flow);
// The download run: the body of the worker thread, which starts the
// transfers and shows their progress. Ends the program after a successful
// run; returns after a failed one (the window stays), once every transfer
// has stopped.
void RunPatchDownloads(Flow& flow);
// The enter-game click.
void LaunchGame(Flow& flow);

// The folder part of a path: the bytes before its last "\", or empty.
rt::Text ParentFolderOf(const rt::Text& path);

}  // namespace app

#pragma once
// The update flow's texts, shown in the current-task label or a message box.

namespace app {

inline constexpr const char kTextChecking[] = "正在与远程版本进行比对,请稍后....";
inline constexpr const char kTextListFailed[] = "远程版本信息获取失败！不能更新。";
// Every list refused for its expiry date: the player's clock is likely ahead.
inline constexpr const char kTextListExpired[] = "远程版本信息已过期!请检查电脑时间";
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
// A link of the client (a folder moved to another disk) that leads nowhere.
inline constexpr const char kTextBrokenLink[] = "%s是无效的链接!请修复或移除后再试";
// The disk is full; the second names the room still needed ("1.5 GB").
inline constexpr const char kTextDiskFull[] = "磁盘空间不足!请清理磁盘后再试";
inline constexpr const char kTextDiskFullNeed[] = "磁盘空间不足!还需%s,请清理磁盘后再试";
// The launcher's copy of itself could not be written whole (message box).
inline constexpr const char kTextCopyFailed[] = "无法写入update.dat!请以管理员运行或移动游戏";
// The window's right-click menu: pause and resume the download, and the
// speed caps (the checked one is the current); the speed label while paused.
inline constexpr const char kTextPause[] = "暂停下载";
inline constexpr const char kTextResume[] = "继续下载";
inline constexpr const char kTextNoCap[] = "不限速";
inline constexpr const char kTextCapAt[] = "限速 %s";
inline constexpr const char kTextPaused[] = "已暂停";

}  // namespace app

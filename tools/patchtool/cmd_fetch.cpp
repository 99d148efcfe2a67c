// patchtool fetch URL FILE: one download exactly as the updater makes it.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "net/download_result.h"
#include "list/layout.h"
#include "net/file_download.h"
#include "net/http_connection.h"
#include "net/socket_session.h"
#include "net/url_escape.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool fetch URL FILE\n"
    "Downloads URL (escaped first, as the updater does) into FILE through FILE.tmp;\n"
    "a FILE.tmp left by an interrupted fetch is resumed. Prints the result name;\n"
    "the exit code is 0 only for Ok. Progress goes to standard error on a terminal.";

constexpr auto kProgressInterval = std::chrono::milliseconds(200);

// Shows the engine's counters on one terminal line while the download runs.
// It only reads the counters, which the engine stores as it goes.
class ProgressLine {
 public:
  ProgressLine(const std::atomic<int64_t>& total, const std::atomic<int64_t>& done)
      : total_(total), done_(done), started_(std::chrono::steady_clock::now()) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ProgressLine() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    Print();
    std::fputs("\n", stderr);
    std::fflush(stderr);
  }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kProgressInterval, [this] { return stop_; })) Print();
  }

  void Print() {
    const int64_t total = total_.load();
    const int64_t done = done_.load();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double percent = total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 0.0;
    const double kib_per_second = seconds > 0 ? static_cast<double>(done) / 1024.0 / seconds : 0.0;
    std::fprintf(stderr, "\r%lld/%lld bytes  %5.1f%%  %.2f KB/S   ", static_cast<long long>(done),
                 static_cast<long long>(total), percent, kib_per_second);
    std::fflush(stderr);
  }

  const std::atomic<int64_t>& total_;
  const std::atomic<int64_t>& done_;
  const std::chrono::steady_clock::time_point started_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace

int RunFetch(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    PrintOut(kUsage);
    return kExitOk;
  }
  if (argc != 3) {
    PrintErr(kUsage);
    return kExitUsage;
  }
  net::SocketSession sockets;
  sockets.Startup();
  if (sockets.StartResult() != 0) {
    ReportError("fetch: the sockets library did not start");
    return kExitFailed;
  }
  const rt::Text url = net::EscapeUrl(argv[1]);
  // A connection of the command's own, as each transfer of the updater has.
  net::HttpConnection connection(1);
  net::FileDownload options(url, argv[2], list::kPartialSuffix);
  options.connection = &connection;
  std::atomic<int64_t> total{0};
  std::atomic<int64_t> done{0};
  net::DownloadReport report;
  if (isatty(2)) {
    ProgressLine progress(total, done);
    report = net::HttpDownloadReport(options, total, done);
  } else {
    report = net::HttpDownloadReport(options, total, done);
  }
  const char* name = net::ToString(report.result);
  if (!report.ok()) {
    const std::string why = net::Describe(report);
    ReportError(std::string("fetch: ") + name + " (" + std::to_string(static_cast<int32_t>(report.result)) + ") for " +
                Shown(url) + (why.empty() ? std::string() : ": " + why));
    return kExitFailed;
  }
  PrintOut(name);
  return kExitOk;
}

}  // namespace patchtool

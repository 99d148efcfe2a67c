// The updater window with test bindings and no network, for end-to-end
// tests. Commands come from the command line, in order:
//   title=TEXT        game-title caption
//   task=TEXT         current-task caption
//   enable            enables the enter-game button
//   files=N/M         the file progress= shows: N of M (default 1 of 2);
//                     before progress=
//   progress=D/T      a worker thread shows that file at D of T bytes,
//                     64-bit decimal counts (timer at 100 ms, set from the
//                     worker thread)
//   run               a worker thread runs two fake files to completion
//   report=S          after S seconds logs the captions of the patch-size
//                     and speed labels ("patch-size TEXT", "speed TEXT")
//   quit_after=S      closes the window after S seconds (default 120)
// The bindings append one line per event to window_harness.log in the
// current folder: "check" (first activation), "launch" (enter-game click).
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/thread.h"
#include "ui/updater_window.h"

namespace {

ui::DownloadJob g_job;
ui::WindowPort* g_port = nullptr;
rt::ThreadHandle g_worker = 0;
std::atomic<int32_t> g_quit_after{120};
std::atomic<int32_t> g_report_after{0};
int64_t g_fixed_done = 0;
int64_t g_fixed_total = 0;
int32_t g_fixed_index = 1;
int32_t g_fixed_count = 2;

void LogEvent(const char* line) {
  const int32_t file = rt::OpenFile("window_harness.log", rt::kModeOpenOrCreate, rt::kShareDenyNone);
  if (file == 0) return;
  rt::SeekToEnd(file);
  rt::WriteToFile(file, rt::ToBytes(rt::Text(line) + "\r\n"));
  rt::CloseFile(file);
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A fixed state: what the timer shows is steady once the first tick is in.
void FixedProgress(void*) {
  g_port->SetTimerInterval(ui::kProgressTimer, 100);
  g_job.fileCount = g_fixed_count;
  g_job.fileIndex = g_fixed_index;
  g_job.totalBytes = g_fixed_total;
  g_job.doneBytes = g_fixed_done;
  g_job.status = ui::JobStatus::kDownloading;
}

// Two files as the download run drives the record, about three seconds.
void FakeRun(void*) {
  g_port->SetTimerInterval(ui::kProgressTimer, 100);
  g_job.fileCount = 2;
  for (int32_t file = 1; file <= 2; ++file) {
    g_job.status = ui::JobStatus::kDownloading;
    g_job.doneBytes = 0;
    g_job.totalBytes = 0;
    g_job.fileIndex = file;
    g_port->SetWidth(ui::kProgressFill, 0);
    Sleep(200);
    const int32_t total = 150000 * file;
    g_job.totalBytes = total;
    for (int32_t done = 0; done < total;) {
      done = done + 12000 > total ? total : done + 12000;
      g_job.doneBytes = done;
      Sleep(100);
    }
    Sleep(200);
  }
  g_port->SetTimerInterval(ui::kProgressTimer, 0);
  g_port->SetCaption(ui::kCurrentTaskLabel, "更新结束,可以游戏了!");
}

// The captions as the window has them, read through the port from this
// thread (the port marshals the read to the window thread).
void ReportLater(void*) {
  Sleep(g_report_after.load() * 1000);
  if (!g_port) return;
  LogEvent(("patch-size " + g_port->Caption(ui::kPatchSizeLabel)).c_str());
  LogEvent(("speed " + g_port->Caption(ui::kSpeedLabel)).c_str());
}

void QuitLater(void*) {
  Sleep(g_quit_after.load() * 1000);
  if (g_port) g_port->Close();
}

}  // namespace

int main() {
  ui::FlowBindings bindings;
  bindings.check_remote_version = [] { LogEvent("check"); };
  bindings.launch_game = [] { LogEvent("launch"); };
  bindings.download_thread = [] { return g_worker; };
  bindings.job = &g_job;
  g_port = ui::LoadUpdaterWindow(bindings);
  if (!g_port) return 1;

  for (const rt::Text& arg : rt::CommandLineArguments()) {
    const int32_t eq = rt::FindText(arg, "=");
    const rt::Text key = eq > 0 ? rt::TextLeft(arg, eq - 1) : arg;
    const rt::Text value = eq > 0 ? rt::TextMid(arg, eq + 1, rt::TextLength(arg)) : rt::Text();
    if (key == "title") {
      g_port->SetCaption(ui::kGameTitleLabel, value);
    } else if (key == "task") {
      g_port->SetCaption(ui::kCurrentTaskLabel, value);
    } else if (key == "enable") {
      g_port->SetDisabled(ui::kEnterGameButton, false);
    } else if (key == "files") {
      const rt::TextArray parts = rt::SplitText(value, "/");
      if (parts.size() == 2) {
        g_fixed_index = rt::ToInteger(parts[0]);
        g_fixed_count = rt::ToInteger(parts[1]);
      }
    } else if (key == "progress") {
      const rt::TextArray parts = rt::SplitText(value, "/");
      if (parts.size() == 2) {
        g_fixed_done = std::strtoll(parts[0].c_str(), nullptr, 10);
        g_fixed_total = std::strtoll(parts[1].c_str(), nullptr, 10);
        rt::StartThread(FixedProgress, nullptr, &g_worker);
      }
    } else if (key == "run") {
      rt::StartThread(FakeRun, nullptr, &g_worker);
    } else if (key == "report") {
      g_report_after = rt::ToInteger(value);
      rt::StartThread(ReportLater, nullptr);
    } else if (key == "quit_after") {
      g_quit_after = rt::ToInteger(value);
    }
  }
  rt::StartThread(QuitLater, nullptr);
  ui::RunMessageLoop();
  return 0;
}

#include <atomic>
#include <ctime>
#include <utility>

#include "app/flow.h"
#include "app/update_log.h"
#include "net/http_download.h"
#include "runtime/dialog.h"
#include "runtime/fetch.h"
#include "runtime/file_access.h"
#include "runtime/file_facts.h"
#include "runtime/instance.h"
#include "runtime/process.h"
#include "runtime/thread.h"
#include "runtime/user_values.h"

namespace app {
namespace {
constexpr int64_t kSecondsPerDay = 24 * 60 * 60;

struct ListFetch {
  rt::Text url;
  rt::FetchResult result;
};

void RunListFetch(void* fetch) {
  ListFetch& job = *static_cast<ListFetch*>(fetch);
  job.result = rt::FetchUrl(job.url);
}

// The list fetch off the window thread: a thread of its own runs it while
// the window thread waits with its messages let through, so the window draws
// and answers its close button however long the fetch takes. The wait has
// no time limit of its own: FetchUrl bounds itself (its stall rule and its
// size cap), so the thread ends and the job on this stack outlives it.
rt::FetchResult FetchOffTheWindowThread(const rt::Text& url) {
  ListFetch job{url, {}};
  rt::ScopedThread thread;
  if (!rt::StartThread(RunListFetch, &job, thread.receive())) return rt::FetchUrl(url);
  rt::JoinThreadWithEvents(thread.get(), rt::kWaitForever);
  return job.result;
}

// One of several fetches at once, shared by its thread and the caller; the
// last of the two to let go deletes it, so the caller may stop waiting.
struct SharedFetch {
  explicit SharedFetch(rt::Text fetch_url) : url(std::move(fetch_url)) {}
  void Release() {
    if (owners.fetch_sub(1) == 1) delete this;
  }
  const rt::Text url;
  rt::FetchResult result;  // written by the thread before it ends
  std::atomic<int> owners{2};
};

void RunSharedFetch(void* fetch) {
  SharedFetch& job = *static_cast<SharedFetch*>(fetch);
  job.result = rt::FetchUrl(job.url);
  job.Release();
}

std::vector<std::optional<rt::FetchResult>> FetchAtOnce(const std::vector<rt::Text>& urls, uint32_t wait_ms) {
  std::vector<SharedFetch*> jobs;
  std::vector<rt::ThreadHandle> threads;
  for (const rt::Text& url : urls) {
    SharedFetch* job = new SharedFetch(url);
    rt::ThreadHandle thread = 0;
    if (!rt::StartThread(RunSharedFetch, job, &thread)) {
      delete job;
      job = nullptr;
    }
    jobs.push_back(job);
    threads.push_back(thread);
  }
  const uint32_t started = rt::TickCount();
  std::vector<std::optional<rt::FetchResult>> answers(urls.size());
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (jobs[i] == nullptr) continue;
    const uint32_t elapsed = rt::TickCount() - started;
    // A thread that ended is read; one still running keeps its job.
    if (rt::JoinThreadWithEvents(threads[i], elapsed < wait_ms ? wait_ms - elapsed : 0)) {
      answers[i] = std::move(jobs[i]->result);
    }
    rt::CloseThreadHandle(threads[i]);
    jobs[i]->Release();
  }
  return answers;
}

}  // namespace

FlowServices RealServices(SharedState& state, std::function<bool()> start_download_run) {
  FlowServices s;
  s.fetch_url = [](const rt::Text& url) { return FetchOffTheWindowThread(url); };
  s.fetch_at_once = FetchAtOnce;
  s.download = net::HttpGet;
  s.send_ahead = net::SendAhead;
  s.run_program = [](const rt::Text& command_line) { return rt::RunProgram(command_line, false); };
  s.show_message = [](const rt::Text& text, uint32_t flags, const rt::Text& caption) {
    return rt::ShowMessage(text, flags, caption);
  };
  s.end_program = [](int32_t code) { rt::EndProgram(code); };
  s.process_events = rt::ProcessEvents;
  s.delay = rt::DelayWithEvents;
  s.tick_count = rt::TickCount;
  s.log = [&state](const rt::Text& line) {
    AppendLogLine(state.Client.Path(kLogName), rt::LocalTimeText(), line);
  };
  s.read_user_value = rt::ReadUserValue;
  s.write_user_value = rt::WriteUserValue;
  s.utc_day = [] { return static_cast<int64_t>(std::time(nullptr) / kSecondsPerDay); };
  s.probe_folder = rt::ProbeFolderWritable;
  s.probe_replaceable = rt::ProbeReplaceable;
  s.find_links = rt::FindLinksBelow;
  s.free_disk_space = rt::FreeDiskSpace;
  s.file_time_now = rt::FileTimeNow;
  // The installed file (at the client folder's path of its entry) enters the
  // checksum cache at the list's checksum, which the run verified.
  s.record_installed = [&state](const PatchEntry& entry, const rt::Text&) {
    state.Checksums.RecordInstalled(entry);
  };
  s.start_download_run = std::move(start_download_run);
  return s;
}

}  // namespace app

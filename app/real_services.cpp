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
  rt::ThreadHandle thread = 0;
  if (!rt::StartThread(RunListFetch, &job, &thread)) return rt::FetchUrl(url);
  rt::JoinThreadWithEvents(thread, rt::kWaitForever);
  rt::CloseThreadHandle(thread);
  return job.result;
}

}  // namespace

FlowServices RealServices(SharedState& state, std::function<bool()> start_download_run) {
  FlowServices s;
  s.fetch_url = [](const rt::Text& url) { return FetchOffTheWindowThread(url); };
  s.download = net::HttpGet;
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
  s.find_link = rt::FindLinkBelow;
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

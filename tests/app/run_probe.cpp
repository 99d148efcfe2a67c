// run_probe CLIENT_DIR BASE_URL: the updater's version check and download
// run, with the app's real services (engine, checksum cache, update.log) and
// a recording window in place of the real one, over CLIENT_DIR against the
// patch folder 528 at BASE_URL. Prints the run's time and the process's
// anonymous (private) memory: after the check, and its peak during the run,
// sampled each time the run's thread looks at its transfers. For the
// benches (bench/files, bench/download --native); no test runs it.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "app/flow.h"
#include "net/socket_session.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "tests/ui/recording_port.h"

namespace {

// RssAnon of /proc/self/status in bytes (Linux); -1 where there is none
// (Windows under Wine).
int64_t AnonymousBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 8, "RssAnon:") == 0) return std::atoll(line.c_str() + 8) * 1024;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: run_probe CLIENT_DIR BASE_URL\n");
    return 2;
  }
  app::SharedState state;
  state.Client = app::ClientFolder(argv[1]);
  rt::SetCurrentFolder(state.Client.Folder());
  state.Site = app::PatchSite(argv[2], 528);
  state.RestartProgramName = "launcher.exe";
  net::SocketSession sockets;
  sockets.Startup();
  bool run_started = false;
  ui::testing::RecordingPort window;
  app::Flow flow{state, &window, app::RealServices(state, [&] { return run_started = true; }), app::RunSettings()};
  std::atomic<int64_t> peak{0};
  const auto sample = [&peak] {
    const int64_t now = AnonymousBytes();
    if (now > peak.load()) peak.store(now);
  };
  const auto delay = flow.services.delay;
  flow.services.delay = [&](int32_t ms) {
    sample();
    // The recording window keeps every call; the real one keeps none. Only
    // the run's thread, this one, calls it.
    window.calls.clear();
    window.calls.shrink_to_fit();
    window.changes.clear();
    window.changes.shrink_to_fit();
    delay(ms);
  };
  int32_t ended = -1;
  flow.services.end_program = [&ended](int32_t code) { ended = code; };
  flow.services.run_program = [](const rt::Text&) { return true; };
  flow.services.show_message = [](const rt::Text& text, uint32_t, const rt::Text&) {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return 0;
  };
  flow.services.log("start: run_probe " + rt::Text(argv[1]));
  const int64_t at_start = AnonymousBytes();
  const uint32_t started = rt::TickCount();
  app::CheckRemoteVersion(flow);
  const int64_t after_check = AnonymousBytes();
  const size_t files = state.PatchList.size();
  if (!run_started) {
    std::fprintf(stderr, "run_probe: no download run (%zu files to fetch)\n", files);
    return 1;
  }
  peak.store(after_check);
  const uint32_t run_started_at = rt::TickCount();
  app::RunPatchDownloads(flow);
  sample();
  const uint32_t done = rt::TickCount();
  std::printf("files %zu run %.3f s whole %.3f s ended %d anon_start %lld anon_after_check %lld anon_peak_run %lld\n",
              files, (done - run_started_at) / 1000.0, (done - started) / 1000.0, ended,
              static_cast<long long>(at_start), static_cast<long long>(after_check),
              static_cast<long long>(peak.load()));
  return ended == 0 ? 0 : 1;
}

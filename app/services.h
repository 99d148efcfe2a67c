#pragma once
// The services through which the update flow reaches outside the process.
// They default to the real ones; tests replace them.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/shared_state.h"
#include "net/body_sink.h"
#include "net/download_options.h"
#include "net/download_report.h"
#include "runtime/fetch.h"
#include "runtime/file_access.h"
#include "runtime/types.h"

namespace app {

struct FlowServices {
  // Whole-body fetch of the remote list, with how it ended. The real one runs
  // off the window thread, the window answering while it runs.
  std::function<rt::FetchResult(const rt::Text& url)> fetch_url;
  // Several such fetches at once, off the window thread: waits `wait_ms` at
  // most in all (the window answering) and gives back each answer in the
  // order asked, nothing for a fetch still running by then (it ends on its
  // own thread, bounded by its own rules, and its answer goes).
  std::function<std::vector<std::optional<rt::FetchResult>>(const std::vector<rt::Text>& urls, uint32_t wait_ms)>
      fetch_at_once;
  // One try of one patch file: the engine with the run's options (the URL,
  // the kept connection, the proxy setting, ...) writing the body to the
  // file's chain (partial file, verifier), its result with its reason.
  // `total` and `done` are the try's progress counters. Called on several
  // transfer threads at once.
  std::function<net::DownloadReport(const net::DownloadOptions& options, net::BodySink& sink,
                                    std::atomic<int64_t>& total, std::atomic<int64_t>& done)>
      download;
  // Sends the request `download` would send for `options` ahead on its kept
  // connection (pipelining); false when it did not. Empty: never.
  std::function<bool(const net::DownloadOptions& options)> send_ahead;
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
  // The links a path below the client folder goes through, each with where
  // it leads (rt::FindLinksBelow).
  std::function<std::vector<rt::PathLink>(const rt::Text& base, const rt::Text& path)> find_links;
  // The time in file-time ticks (rt::FileTimeNow): when a checksum record is
  // made.
  std::function<uint64_t()> file_time_now;
};

// The real services; `start_download_run` is the updater's own (it owns the
// worker thread). The log goes to update.log in the state's client folder;
// installed files are recorded in the state's checksum cache.
FlowServices RealServices(SharedState& state, std::function<bool()> start_download_run);

}  // namespace app

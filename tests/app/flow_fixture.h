#pragma once
// A flow over a scratch client folder, with a recording window and scripted
// services.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <mutex>

#include "app/flow.h"
#include "list/layout.h"
#include "net/body_sink.h"
#include "net/download_url.h"
#include "tests/ui/recording_port.h"
#include "runtime/convert.h"
#include "runtime/file_facts.h"
#include "runtime/files.h"
#include "tests/support/temp_folder.h"

// A URL as the engine is handed it, written out whole: "http://" + host
// field + "/" + path.
inline rt::Text UrlOf(const net::DownloadUrl& url) { return "http://" + url.host_field + "/" + url.path; }

class FlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The flow resolves list paths against the current folder, so every test
    // works in a scratch folder of its own.
    ASSERT_TRUE(rt::SetCurrentFolder(folder_.path()));
    state_.Site = app::PatchSite("http://127.0.0.1:8088/", 528);
    // The client folder is the current one: the scratch folder.
    state_.RestartProgramName = "游戏 启动.exe";
    flow_.window = &window_;
    flow_.services.fetch_url = [this](const rt::Text& url) {
      fetched_.push_back(url);
      if (!fetch_script_.empty()) {
        rt::FetchResult next = fetch_script_.front();
        fetch_script_.pop_front();
        return next;
      }
      return list_;
    };
    // Asked at once: each answered in turn through fetch_url, except those
    // named in no_answer_ (still running when the wait ends).
    flow_.services.fetch_at_once = [this](const std::vector<rt::Text>& urls, uint32_t wait_ms) {
      at_once_waits_.push_back(wait_ms);
      std::vector<std::optional<rt::FetchResult>> answers;
      for (const rt::Text& url : urls) {
        if (no_answer_.count(url) != 0) {
          fetched_.push_back(url);
          answers.push_back(std::nullopt);
        } else {
          answers.push_back(flow_.services.fetch_url(url));
        }
      }
      return answers;
    };
    state_.ListProduct = "528";
    list_.outcome = rt::FetchOutcome::kOk;
    list_.status = 200;
    flow_.services.download = [this](const net::DownloadOptions& options, net::BodySink& sink,
                                     std::atomic<int64_t>& total, std::atomic<int64_t>& done) -> net::DownloadReport {
      const rt::Text url = UrlOf(options.url);
      {
        std::lock_guard<std::mutex> hold(mutex_);
        requested_.push_back(url);
      }
      const auto it = server_.find(url);  // not changed while a run goes
      if (it == server_.end()) return NotFound();
      return Serve(options, sink, it->second, total, done);
    };
    flow_.services.start_download_run = [this] {
      ++runs_started_;
      return true;
    };
    flow_.services.run_program = [this](const rt::Text& line) {
      programs_.push_back(line);
      return true;
    };
    flow_.services.show_message = [this](const rt::Text& text, uint32_t flags, const rt::Text& caption) {
      messages_.push_back(caption + "|" + text + "|" + std::to_string(flags));
      return 0;
    };
    flow_.services.end_program = [this](int32_t code) { ended_.push_back(code); };
    flow_.services.process_events = [this] { ++events_; };
    flow_.services.delay = [this](int32_t ms) {
      std::lock_guard<std::mutex> hold(mutex_);
      delays_.push_back(ms);
    };
    flow_.services.tick_count = [] { return 0u; };
    flow_.services.log = [this](const rt::Text& line) {
      std::lock_guard<std::mutex> hold(mutex_);
      log_.push_back(line);
    };
    flow_.services.probe_folder = rt::ProbeFolderWritable;
    flow_.services.probe_replaceable = rt::ProbeReplaceable;
    flow_.services.read_user_value = [this](const rt::Text& key, const rt::Text& name) -> std::optional<rt::Text> {
      const auto it = user_values_.find(key + "|" + name);
      if (it == user_values_.end()) return std::nullopt;
      return it->second;
    };
    flow_.services.write_user_value = [this](const rt::Text& key, const rt::Text& name, const rt::Text& value) {
      user_values_[key + "|" + name] = value;
      return true;
    };
    flow_.services.utc_day = [this] { return today_; };
    flow_.services.find_links = rt::FindLinksBelow;
    flow_.services.free_disk_space = [](const rt::Text&) { return int64_t{-1}; };
    flow_.services.file_time_now = [this] { return rt::FileTimeNow() + record_clock_ahead_; };
    // As the real services: an installed file enters the state's checksum
    // cache.
    flow_.services.record_installed = [this](const app::PatchEntry& entry, const rt::Text&) {
      state_.Checksums.RecordInstalled(entry);
    };
    // One transfer: the order of requests is the list's. Tests of several
    // transfers set more.
    flow_.run.transfers = 1;
    flow_.run.publish_ms = 5;
  }
  void TearDown() override { rt::SetCurrentFolder(".."); }

  // A 404, as the engine reports it.
  static net::DownloadReport NotFound() {
    net::DownloadReport report(net::DownloadResult::BadStatus);
    report.reason = net::FailReason::kHttpStatus;
    report.http_status = 404;
    return report;
  }
  // A scripted source in memory serving `content` into the run's chain: a
  // kept part is resumed (one as long as the file is complete already, one
  // longer dropped first), the rest written after it. A size other than the
  // expected one is refused before anything is written.
  static net::DownloadReport Serve(const net::DownloadOptions& options, net::BodySink& sink, const rt::Text& content,
                                   std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
    net::DownloadReport report;
    report.connection_id = options.connection != nullptr ? options.connection->Id() : 0;
    const int64_t size = static_cast<int64_t>(content.size());
    if (options.expected_size >= 0 && options.expected_size != size) {
      report.result = net::DownloadResult::BadStatus;
      report.reason = net::FailReason::kSizeDiffers;
      return report;
    }
    const net::SinkResult prepared = sink.Prepare(options.expected_size);
    int64_t kept = prepared.ok() ? sink.Kept() : -1;
    if (kept > size && sink.Drop()) kept = -1;
    report.resumed = kept >= 0;
    report.resumed_from = kept > 0 ? kept : 0;
    report.http_status = kept == size ? 416 : kept > 0 ? 206 : 200;
    report.kept_complete = kept == size;
    const size_t from = kept > 0 ? static_cast<size_t>(kept) : 0;
    // A span asked for ends at its last byte.
    const size_t end = options.range_last >= 0 && kept > 0
                           ? std::min(content.size(), static_cast<size_t>(options.range_last) + 1)
                           : content.size();
    net::SinkResult wrote = prepared.ok() && !report.kept_complete ? sink.Begin(false) : prepared;
    if (wrote.ok() && !report.kept_complete) {
      wrote = sink.Write(reinterpret_cast<const std::uint8_t*>(content.data()) + from, end - from);
    }
    sink.End();
    if (!wrote.ok()) {
      sink.Drop();
      report.result = net::DownloadResult::WriteFailed;
      report.reason = wrote.reason;
      return report;
    }
    report.received = static_cast<int64_t>(end - from);
    if (options.received_counter != nullptr) options.received_counter->fetch_add(report.received);
    total = size;
    done = size;
    return report;
  }
  // What a try that is cut leaves: `bytes` written through the chain after
  // what it kept.
  static void WritePart(net::BodySink& sink, const rt::Text& bytes) {
    ASSERT_TRUE(sink.Prepare(-1).ok());
    ASSERT_TRUE(sink.Begin(false).ok());
    ASSERT_TRUE(sink.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()).ok());
    sink.End();
  }
  std::vector<rt::Text> Requested() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requested_;
  }

  void SetList(const rt::Text& text, rt::FetchOutcome outcome = rt::FetchOutcome::kOk, int status = 200) {
    list_.outcome = outcome;
    list_.status = status;
    list_.body = rt::ToBytes(text);
  }
  void Write(const rt::Text& path, const rt::Text& content) {
    ASSERT_TRUE(rt::WriteWholeFile(path, rt::ToBytes(content)));
  }
  rt::Text Read(const rt::Text& path) { return rt::ToText(rt::ReadWholeFile(path)); }
  rt::Text Task() { return window_.props[ui::kCurrentTaskLabel].caption; }
  bool EnterGameDisabled() { return window_.props[ui::kEnterGameButton].disabled; }

  testsupport::TempFolder folder_{"flow"};
  app::SharedState state_;
  ui::testing::RecordingPort window_;
  app::Flow flow_{state_, nullptr, {}, {}};
  rt::FetchResult list_;
  std::map<rt::Text, rt::Text> server_;  // escaped URL -> content
  std::vector<rt::Text> fetched_, requested_, programs_, messages_;
  std::vector<int32_t> ended_;
  std::vector<int32_t> delays_;
  std::set<rt::Text> no_answer_;         // URLs whose fetch at once has not ended within its wait
  std::vector<uint32_t> at_once_waits_;  // the wait of each fetch at once
  std::vector<rt::Text> log_;
  std::deque<rt::FetchResult> fetch_script_;  // answers before the list
  std::map<rt::Text, rt::Text> user_values_;  // "key|name" -> value: the user's registry
  int64_t today_ = 19875;                     // 2024-06-01
  // How far the clock of the checksum records runs ahead of the files' own
  // times: by default the records are made as if the files had been written
  // an hour before, so they are trusted next time.
  uint64_t record_clock_ahead_ = 3600 * rt::kFileTimeTicksPerSecond;
  int runs_started_ = 0;
  int events_ = 0;
  std::mutex mutex_;  // the scripted source is called on several transfer threads
};

#pragma once
// A flow over a scratch client folder, with a recording window and scripted
// services.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "app/flow.h"
#include "tests/ui/recording_port.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tests/support/temp_folder.h"

class FlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The flow resolves list paths against the current folder, so every test
    // works in a scratch folder of its own.
    ASSERT_TRUE(rt::SetCurrentFolder(folder_.path()));
    globals_.Site = app::PatchSite("http://127.0.0.1:8088/", 528, "");  // local paths relative: the scratch folder
    globals_.RestartProgramName = "游戏 启动.exe";
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
    list_.outcome = rt::FetchOutcome::kOk;
    list_.status = 200;
    flow_.services.download = [this](const net::DownloadUrl& target, const rt::Text& path, std::atomic<int32_t>& total,
                                      std::atomic<int32_t>& done) -> int32_t {
      const rt::Text url = net::UrlText(target);
      requested_.push_back(url);
      auto it = server_.find(url);
      if (it == server_.end()) return 6;
      total = static_cast<int32_t>(it->second.size());
      done = total.load();
      // Through a partial file and a checked install, as the engine does,
      // but without its read-only handling: what the run itself must do.
      const rt::Text partial = path + ".tmp";
      if (!rt::WriteWholeFile(partial, rt::ToBytes(it->second))) return 5;
      rt::RemoveFile(path);
      return rt::MoveFile(partial, path) ? 0 : 7;
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
    flow_.services.delay = [this](int32_t ms) { delays_.push_back(ms); };
    flow_.services.tick_count = [] { return 0u; };
    flow_.services.log = [this](const rt::Text& line) { log_.push_back(line); };
    flow_.services.probe_folder = rt::ProbeFolderWritable;
    flow_.services.probe_replaceable = rt::ProbeReplaceable;
  }
  void TearDown() override { rt::SetCurrentFolder(".."); }

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
  app::Globals globals_;
  ui::testing::RecordingPort window_;
  app::Flow flow_{globals_, nullptr, {}};
  rt::FetchResult list_;
  std::map<rt::Text, rt::Text> server_;  // escaped URL -> content
  std::vector<rt::Text> fetched_, requested_, programs_, messages_;
  std::vector<int32_t> ended_;
  std::vector<int32_t> delays_;
  std::vector<rt::Text> log_;
  std::deque<rt::FetchResult> fetch_script_;  // answers before the list
  int runs_started_ = 0;
  int events_ = 0;
};

#include "app/run/run_context.h"

#include <mutex>

#include "app/run/send_ahead.h"

#include "runtime/proxy_settings.h"

namespace app {

RunContext::RunContext(Flow& flow, const std::vector<OutdatedFile>& files)
    : flow(flow),
      files(files),
      mirrors(flow.state.Site.FileMirrorOrder()),
      proxy(net::ProxyUse::Setting(rt::ReadUserProxySettings())),
      plan(files.size()),
      log(flow.services.log),
      rate(flow.services.tick_count, flow.services.delay) {
  for (size_t m = 0; m < mirrors.size(); ++m) {
    gates.push_back(std::make_unique<ConnectionGate>(flow.run.first_connections, flow.state.MostConnections,
                                                     RateProbe{&received, flow.services.tick_count}));
    pipelining.push_back(std::make_unique<MirrorPipelining>());
  }
}

RunContext::~RunContext() = default;

bool RunContext::Pause() {
  std::lock_guard<rt::Lock> hold(lock_);
  if (state_.load() != RunState::kRunning) return false;
  state_.store(RunState::kPaused);
  rate.Pause();
  Remeasure();
  return true;
}

bool RunContext::Resume() {
  std::lock_guard<rt::Lock> hold(lock_);
  if (state_.load() != RunState::kPaused) return false;
  state_.store(RunState::kRunning);
  rate.Resume();
  Remeasure();
  return true;
}

void RunContext::Remeasure() {
  for (const auto& gate : gates) gate->Remeasure();
}

bool RunContext::WaitWhilePaused() {
  while (State() == RunState::kPaused) flow.services.delay(net::kRateWaitPieceMs);
  return !stop.load();
}

void RunContext::Fail(const rt::Text& text, const rt::Text& log_line) {
  {
    std::lock_guard<rt::Lock> hold(lock_);
    if (state_.load() != RunState::kFailed) failure_text_ = text;
    state_.store(RunState::kFailed);
    stop.store(true);
    // A paused run that fails lets its waiting receives go at once.
    rate.Resume();
  }
  log.Line(log_line);
}

rt::Text RunContext::FailureText() {
  std::lock_guard<rt::Lock> hold(lock_);
  return failure_text_;
}

void RunContext::RecordInstalled(const PatchEntry& entry, const rt::Text& path) {
  if (!flow.services.record_installed) return;
  std::lock_guard<rt::Lock> hold(lock_);
  flow.services.record_installed(entry, path);
}

}  // namespace app

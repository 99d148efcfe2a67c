#include "app/run/run_context.h"

#include <mutex>

namespace app {

RunContext::RunContext(Flow& flow, const std::vector<OutdatedFile>& files)
    : flow(flow),
      files(files),
      mirrors(flow.state.Site.FileMirrorOrder()),
      plan(files.size()),
      log(flow.services.log) {}

void RunContext::Fail(const rt::Text& text, const rt::Text& log_line) {
  {
    std::lock_guard<rt::Lock> hold(lock_);
    if (!failed_.load()) failure_text_ = text;
    failed_.store(true);
    cancel.store(true);
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

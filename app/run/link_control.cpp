#include "app/run/link_control.h"

#include <cstdlib>
#include <mutex>

#include "app/run/run_context.h"
#include "app/texts.h"
#include "runtime/convert.h"
#include "runtime/text.h"

namespace app {
namespace {

constexpr int64_t kMegabyte = 1 << 20;
constexpr int64_t kKilobyte = 1 << 10;

bool Offered(int64_t cap) {
  for (int64_t offered : kSpeedCaps) {
    if (offered == cap) return true;
  }
  return false;
}

}  // namespace

rt::Text CapText(int64_t bytes_per_second) {
  if (bytes_per_second <= 0) return "no cap";
  if (bytes_per_second % kMegabyte == 0) return rt::ToText(bytes_per_second / kMegabyte) + " MB/s";
  return rt::ToText(bytes_per_second / kKilobyte) + " KB/s";
}

void LinkControl::LoadCap() {
  std::lock_guard<rt::Lock> hold(lock_);
  if (loaded_) return;
  loaded_ = true;
  if (!services_.read_user_value) return;
  const std::optional<rt::Text> kept = services_.read_user_value(kUserLinkKey, kUserCapName);
  if (!kept) return;
  char* end = nullptr;
  const int64_t cap = std::strtoll(kept->c_str(), &end, 10);
  if (end != kept->c_str() && *end == '\0' && Offered(cap)) cap_ = cap;
}

int64_t LinkControl::Cap() {
  std::lock_guard<rt::Lock> hold(lock_);
  return cap_;
}

void LinkControl::Attach(RunContext* run) {
  std::lock_guard<rt::Lock> hold(lock_);
  run_ = run;
  run->rate.SetRate(cap_);
}

void LinkControl::Detach() {
  std::lock_guard<rt::Lock> hold(lock_);
  run_ = nullptr;
}

std::vector<ui::MenuItem> LinkControl::MenuItems() {
  std::lock_guard<rt::Lock> hold(lock_);
  std::vector<ui::MenuItem> items;
  const bool paused = run_ != nullptr && run_->State() == RunState::kPaused;
  ui::MenuItem pause{kCommandPause, paused ? kTextResume : kTextPause};
  pause.disabled = run_ == nullptr || run_->Failed();
  items.push_back(pause);
  items.push_back(ui::MenuItem{});
  for (int32_t i = 0; i < kSpeedCapCount; ++i) {
    const int64_t cap = kSpeedCaps[i];
    ui::MenuItem item{kCommandCapFirst + i, cap == 0 ? rt::Text(kTextNoCap) : rt::FormatText(kTextCapAt, CapText(cap).c_str())};
    item.checked = cap == cap_;
    items.push_back(item);
  }
  return items;
}

void LinkControl::Command(int32_t id) {
  rt::Text line;
  {
    std::lock_guard<rt::Lock> hold(lock_);
    if (id == kCommandPause) {
      if (run_ == nullptr) return;
      if (run_->Pause()) {
        line = "paused by the player";
      } else if (run_->Resume()) {
        line = "resumed by the player";
      } else {
        return;
      }
    } else if (id >= kCommandCapFirst && id < kCommandCapFirst + kSpeedCapCount) {
      cap_ = kSpeedCaps[id - kCommandCapFirst];
      loaded_ = true;
      if (run_ != nullptr) {
        run_->rate.SetRate(cap_);
        run_->Remeasure();
      }
      line = "speed cap set by the player: " + CapText(cap_);
      if (!services_.write_user_value || !services_.write_user_value(kUserLinkKey, kUserCapName, rt::ToText(cap_))) {
        line += " (not kept for the next run: the value could not be written)";
      }
    } else {
      return;
    }
  }
  if (services_.log) services_.log(line);
}

}  // namespace app

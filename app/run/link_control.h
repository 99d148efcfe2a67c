#pragma once
// The player's controls of the download, from the window's right-click menu:
// pause and resume, and a speed cap. The cap is kept for the user (the
// registry on Windows) and holds for the next run too; a pause holds for
// this run only. The window thread gives the commands while the run works on
// its own threads: the run attaches itself for its lifetime, under a lock.
#include <cstdint>
#include <vector>

#include "app/services.h"
#include "runtime/lock.h"
#include "runtime/types.h"
#include "ui/updater_window.h"

namespace app {

class RunContext;

// The caps the menu offers, in bytes per second (0: none), in its order.
inline constexpr int64_t kSpeedCaps[] = {0, 4 << 20, 2 << 20, 1 << 20, 512 << 10, 256 << 10};
inline constexpr int32_t kSpeedCapCount = static_cast<int32_t>(sizeof(kSpeedCaps) / sizeof(kSpeedCaps[0]));
// The menu's command ids: pause/resume, and each cap by its place.
inline constexpr int32_t kCommandPause = 1;
inline constexpr int32_t kCommandCapFirst = 10;
// Where the cap is kept for the user: bytes per second as a decimal text.
inline constexpr char kUserLinkKey[] = "Software\\GameClientUpdater\\Link";
inline constexpr char kUserCapName[] = "SpeedCap";

// "4 MB/s", "512 KB/s": a cap as the menu and the log name it.
rt::Text CapText(int64_t bytes_per_second);

class LinkControl {
 public:
  explicit LinkControl(FlowServices& services) : services_(services) {}
  LinkControl(const LinkControl&) = delete;
  LinkControl& operator=(const LinkControl&) = delete;

  // The cap kept for the user, read once; a value that is not one of the
  // offered caps counts as none.
  void LoadCap();
  int64_t Cap();
  // The run takes the cap now and the commands while it is attached.
  void Attach(RunContext* run);
  void Detach();

  // The menu as it is now: pause or resume (only while a run is attached),
  // then the caps with the current one checked.
  std::vector<ui::MenuItem> MenuItems();
  // One chosen item; an unknown id does nothing.
  void Command(int32_t id);

 private:
  FlowServices& services_;
  rt::Lock lock_;
  bool loaded_ = false;     // guarded by lock_
  int64_t cap_ = 0;         // guarded by lock_
  RunContext* run_ = nullptr;  // guarded by lock_
};

}  // namespace app

#pragma once
// Start-up: the launcher role (copy to update.dat, check the copy, start it)
// and the updater role (fill the settings, load the window).
#include <cstdint>
#include <functional>

#include "list/client_folder.h"
#include "app/shared_state.h"
#include "list/layout.h"
#include "runtime/types.h"

namespace app {

inline constexpr const char kMarker[] = "gxin";
inline constexpr const char* kCopyName = list::kUpdaterCopyName;
// The launcher's switch for a full check that reads every file, the checksum
// cache left aside; passed on to the updater after the launcher's name.
inline constexpr const char kVerifySwitch[] = "/verify";

// How long a new process waits for the folder's lock. The launcher waits for
// an updater that is ending (the restart at the end of a run starts the
// launcher just before the old updater ends); the updater waits for the
// launcher that started it to end. A process that does not get the lock in
// time finds another updater at work in its folder.
inline constexpr uint32_t kLauncherLockWaitMs = 5000;
inline constexpr uint32_t kUpdaterLockWaitMs = 15000;

enum class StartRole {
  kLauncher,     // the copy was started; end the program
  kWrongMarker,  // two or more arguments, the first not "gxin": end the program
  kUpdater,      // settings filled, window loaded
  kCopyFailed,   // update.dat could not be written whole: said so, nothing started; end the program
};

// What the start-up routine asks of the system; System() gives the real
// ones but for load_window, which the updater supplies.
struct StartSteps {
  std::function<bool(const rt::Text& command_line)> run_program;
  std::function<void()> load_window;
  std::function<bool(const rt::Text& from, const rt::Text& to)> copy_file;
  std::function<int64_t(const rt::Text& folder)> free_disk_space;  // -1 unknown
  std::function<int32_t(const rt::Text& text, uint32_t flags, const rt::Text& caption)> show_message;
  std::function<void(const rt::Text& line)> log;

  static StartSteps System();
};

// The relaunch command line: the copy and the launcher's name, both quoted so
// that folders and names with blanks survive the argument splitting, and
// " /verify" after them when the launcher was given it.
rt::Text RelaunchCommandLine(const ClientFolder& client, const rt::Text& executable_name, bool verify = false);

// Whether an argument is the /verify switch (ASCII letters in any case).
bool IsVerifySwitch(const rt::Text& arg);

// Runs the start-up routine for the given arguments (those after the program
// name), in the state's client folder (set by the caller). The launcher role
// rewrites update.dat there, checks
// that it holds the launcher whole (size and content) and starts it; a copy
// that is not whole never runs: it is removed and a message box says why
// (the disk is full, with the room still needed, or the copy failed). An
// update.dat held open by the updater running from it is left alone and
// started as it is. A launcher given /verify passes it on. The
// updater role fills `state` (FullCheck when /verify follows the launcher's
// name) and loads the window. The caller ends the
// program unless the role is kUpdater.
StartRole ProgramStart(const rt::TextArray& args, const rt::Text& executable_name, SharedState& state,
                       const StartSteps& steps);

}  // namespace app

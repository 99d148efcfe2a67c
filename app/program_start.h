#pragma once
// Start-up: the launcher role (copy to update.dat and start the copy) and
// the updater role (fill the settings, load the window).
#include <cstdint>
#include <functional>

#include "app/globals.h"
#include "list/layout.h"
#include "runtime/types.h"

namespace app {

inline constexpr const char kMarker[] = "gxin";
inline constexpr const char* kCopyName = list::kUpdaterCopyName;

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
};

// The relaunch command line: the copy and the launcher's name, both quoted so
// that folders and names with blanks survive the argument splitting.
rt::Text RelaunchCommandLine(const rt::Text& run_directory, const rt::Text& executable_name);

// Runs the start-up routine for the given arguments (those after the program
// name). The launcher role rewrites update.dat in `run_directory` and starts
// it through `run_program`; the updater role fills `globals` and calls
// `load_window`. The caller ends the program unless the role is kUpdater.
StartRole ProgramStart(const rt::TextArray& args, const rt::Text& run_directory, const rt::Text& executable_name,
                       Globals& globals, const std::function<bool(const rt::Text&)>& run_program,
                       const std::function<void()>& load_window);

}  // namespace app

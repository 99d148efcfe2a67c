#include "app/program_start.h"

#include "app/settings.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/text.h"

namespace app {
namespace {
constexpr int32_t kCopyDelayMs = 200;
}

rt::Text RelaunchCommandLine(const rt::Text& run_directory, const rt::Text& executable_name) {
  return "\"" + run_directory + "\\" + kCopyName + "\" " + kMarker + " \"" + executable_name + "\"";
}

StartRole ProgramStart(const rt::TextArray& args, const rt::Text& run_directory, const rt::Text& executable_name,
                       Globals& globals, const std::function<bool(const rt::Text&)>& run_program,
                       const std::function<void()>& load_window) {
  if (args.size() < 2) {
    // Launcher: never patch from the file the user started; run from a copy.
    rt::Text copy = run_directory + "\\" + kCopyName;
    if (rt::FileExists(copy)) rt::RemoveFile(copy);
    rt::DelayWithEvents(kCopyDelayMs);
    rt::CopyFile(run_directory + "\\" + executable_name, copy);
    run_program(RelaunchCommandLine(run_directory, executable_name));
    return StartRole::kLauncher;
  }
  if (args[0] != kMarker) return StartRole::kWrongMarker;

  globals.RestartProgramName = args[1];
  globals.GameTitle = rt::TrimText(kBuiltInGameTitle);
  globals.Site =
      PatchSite(kBuiltInServerUrl, rt::ToInteger(rt::TrimText(kBuiltInPatchFolder)), run_directory + "\\");
  globals.ListPublicKey = kBuiltInListPublicKey;
  if (load_window) load_window();
  return StartRole::kUpdater;
}

}  // namespace app

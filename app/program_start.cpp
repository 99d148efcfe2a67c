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

std::vector<rt::Text> SplitMirrors(const rt::Text& setting) {
  std::vector<rt::Text> mirrors;
  for (const rt::Text& piece : rt::SplitText(setting, ";")) {
    rt::Text url = rt::TrimText(piece);
    if (!url.empty()) mirrors.push_back(url);
  }
  return mirrors;
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
  globals.PatchFolderNumber = rt::ToInteger(rt::TrimText(kBuiltInPatchFolder));
  globals.ServerMirrors = SplitMirrors(kBuiltInServerUrl);
  globals.ServerBaseUrl = globals.ServerMirrors.empty() ? rt::Text() : globals.ServerMirrors.front();
  globals.ListPublicKey = kBuiltInListPublicKey;
  globals.LocalBaseFolder = run_directory + "\\";
  if (load_window) load_window();
  return StartRole::kUpdater;
}

}  // namespace app

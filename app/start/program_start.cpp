#include "app/start/program_start.h"

#include <algorithm>
#include <optional>

#include "app/disk_full.h"
#include "app/flow.h"
#include "app/settings.h"
#include "runtime/convert.h"
#include "runtime/dialog.h"
#include "runtime/file_access.h"
#include "runtime/file_facts.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/system_error.h"
#include "runtime/text.h"

namespace app {
namespace {

constexpr int32_t kCopyDelayMs = 200;
// The piece the copy is compared in.
constexpr size_t kCompareChunk = 64 * 1024;

// True when both files hold the same bytes. Bounded: every round reads a
// piece of each or ends.
bool SameContent(const rt::Text& a, const rt::Text& b) {
  const rt::OpenedFile file_a(rt::OpenFile(a, rt::kModeRead, rt::kShareDenyNone));
  const rt::OpenedFile file_b(rt::OpenFile(b, rt::kModeRead, rt::kShareDenyNone));
  if (!file_a || !file_b) return false;
  rt::Bytes piece_a(kCompareChunk), piece_b(kCompareChunk);
  for (;;) {
    const int64_t got_a = rt::ReadFull(file_a.get(), piece_a.data(), piece_a.size());
    const int64_t got_b = rt::ReadFull(file_b.get(), piece_b.data(), piece_b.size());
    if (got_a < 0 || got_a != got_b) return false;
    if (got_a == 0) return true;
    if (!std::equal(piece_a.begin(), piece_a.begin() + got_a, piece_b.begin())) return false;
  }
}

// Whether `copy` is the launcher itself (update.dat started without
// arguments): then there is nothing to copy.
bool SameFile(const rt::Text& launcher, const rt::Text& copy) {
  const std::optional<rt::FileFacts> a = rt::ReadFileFacts(launcher), b = rt::ReadFileFacts(copy);
  return a.has_value() && b.has_value() && a->identity == b->identity;
}

// After a copy that is not whole: removes it, then tells a full disk (the
// system said so, or the room left is less than the launcher's size) from
// any other failure, and says which in a message box and the log.
void ReportFailedCopy(const rt::Text& run_directory, const rt::Text& copy, int64_t needed, uint32_t error,
                      const rt::Text& what, const StartSteps& steps) {
  rt::RemoveFile(copy);
  const int64_t free = steps.free_disk_space(run_directory);
  const bool disk_full = rt::IsDiskFullError(error) || (free >= 0 && free < needed);
  steps.log("launcher: " + what + (disk_full ? ", the disk is full" : "") + ", error " + rt::ToText(error) +
            ", free " + rt::ToText(free) + " of " + rt::ToText(needed) + " bytes");
  const rt::Text text = disk_full ? DiskFullText(free >= 0 ? needed - free : 0) : rt::Text(kTextCopyFailed);
  steps.show_message(text, rt::kMsgOk | rt::kMsgIconError, kCaptionError);
}

}  // namespace

StartSteps StartSteps::System() {
  StartSteps steps;
  steps.run_program = [](const rt::Text& command_line) { return rt::RunProgram(command_line, false); };
  steps.copy_file = rt::CopyFile;
  steps.free_disk_space = rt::FreeDiskSpace;
  steps.show_message = [](const rt::Text& text, uint32_t flags, const rt::Text& caption) {
    return rt::ShowMessage(text, flags, caption);
  };
  steps.log = [](const rt::Text&) {};
  return steps;
}

rt::Text RelaunchCommandLine(const ClientFolder& client, const rt::Text& executable_name, bool verify) {
  return "\"" + client.Path(kCopyName) + "\" " + kMarker + " \"" + executable_name + "\"" +
         (verify ? rt::Text(" ") + kVerifySwitch : rt::Text());
}

bool IsVerifySwitch(const rt::Text& arg) {
  return arg.size() == sizeof kVerifySwitch - 1 && rt::FindText(arg, kVerifySwitch, 1, true) == 1;
}

StartRole ProgramStart(const rt::TextArray& args, const rt::Text& executable_name, SharedState& state,
                       const StartSteps& steps) {
  const ClientFolder& client = state.Client;
  if (args.size() < 2) {
    // Launcher: never patch from the file the user started; run from a copy,
    // and only from a whole one (a copy cut short by a full disk would start
    // and fail in ways the player cannot read).
    const bool verify = args.size() == 1 && IsVerifySwitch(args[0]);
    const rt::Text launcher = client.Path(executable_name);
    const rt::Text copy = client.Path(kCopyName);
    if (!SameFile(launcher, copy)) {
      // A read-only, hidden or system update.dat refuses both the removal
      // and the copy over it (Windows copies a read-only launcher's
      // attribute onto its copy): cleared first, as for game.dat.
      // An updater that has just restarted this launcher may still hold its
      // copy for a moment as it ends: then the copy is tried after a pause.
      // A copy removed (or never there) needs none.
      if (rt::FileExists(copy)) {
        rt::SetFileAttributes(copy, 0);
        if (!rt::RemoveFile(copy)) rt::DelayWithEvents(kCopyDelayMs);
      }
      const int64_t needed = rt::FileSize64(launcher);
      if (!steps.copy_file(launcher, copy)) {
        const uint32_t error = rt::LastSystemError();
        if (rt::IsInUseError(error) && rt::FileExists(copy)) {
          // Held by an updater that runs from it (a launcher started twice
          // at once): untouched and whole, since it runs. Started as it is.
          steps.log("launcher: update.dat is in use, error " + rt::ToText(error) + "; starting it as it is");
          steps.run_program(RelaunchCommandLine(client, executable_name, verify));
          return StartRole::kLauncher;
        }
        ReportFailedCopy(client.Folder(), copy, needed, error, "copy to update.dat failed", steps);
        return StartRole::kCopyFailed;
      }
      rt::SetFileAttributes(copy, 0);  // not the launcher's read-only or hidden attribute
      const int64_t copied = rt::FileSize64(copy);
      if (copied != needed || !SameContent(launcher, copy)) {
        ReportFailedCopy(client.Folder(), copy, needed, 0,
                         "update.dat is not a whole copy (" + rt::ToText(copied) + " bytes)", steps);
        return StartRole::kCopyFailed;
      }
    }
    steps.run_program(RelaunchCommandLine(client, executable_name, verify));
    return StartRole::kLauncher;
  }
  if (args[0] != kMarker) return StartRole::kWrongMarker;

  state.RestartProgramName = args[1];
  state.GameTitle = rt::TrimText(kBuiltInGameTitle);
  state.Site = PatchSite(kBuiltInServerUrl, rt::ToInteger(rt::TrimText(kBuiltInPatchFolder)));
  state.ListPublicKey = kBuiltInListPublicKey;
  state.ListProduct = kBuiltInProduct;
  state.UseChecksumCache = kBuiltInChecksumCache;
  state.MostConnections = kBuiltInMostConnections;
  state.FullCheck = std::any_of(args.begin() + 2, args.end(), IsVerifySwitch);
  if (steps.load_window) steps.load_window();
  return StartRole::kUpdater;
}

}  // namespace app

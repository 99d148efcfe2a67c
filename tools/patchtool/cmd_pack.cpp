// patchtool pack UPDATER GAME -o OUT
#include "payload/payload.h"
#include "runtime/files.h"
#include "tools/patchtool/command_line.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/file_copy.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool pack UPDATER GAME -o OUT\n"
    "Writes OUT = UPDATER, then GAME, then the 15-byte trailer that lets the\n"
    "updater find GAME (its size right-aligned in 12 characters, then \"#!@\").";
// OUT is written under this suffix and renamed when complete, so that OUT may
// also be one of the inputs and a failed run leaves no half-packed file.
constexpr char kWritingSuffix[] = ".packing";

}  // namespace

int RunPack(int argc, char** argv) {
  rt::Text updater, game, out;
  switch (ParseArguments("pack", argc, argv, kUsage, kUsage, {{"-o", &out}}, {&updater, &game})) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kHelpShown: return kExitOk;
    case ParseOutcome::kUsageError: return kExitUsage;
  }
  if (updater.empty() || game.empty() || out.empty()) {
    PrintErr(kUsage);
    return kExitUsage;
  }
  for (const rt::Text& input : {updater, game}) {
    if (rt::FileSize64(input) < 0 || rt::FolderExists(input)) {
      ReportError("pack: no such file: " + Shown(input));
      return kExitFailed;
    }
  }
  const int64_t image_size = rt::FileSize64(updater);
  const int64_t game_size = rt::FileSize64(game);
  const rt::Text trailer = payload::FormatTrailer(game_size);
  if (trailer.empty()) {
    ReportError("pack: " + Shown(game) + " is too big: the trailer holds at most " +
                std::to_string(payload::kMaxPayloadSize) + " bytes");
    return kExitFailed;
  }
  if (payload::LocatePayload(updater))
    PrintErr("patchtool: pack: warning: " + Shown(updater) +
             " already ends with a trailer; the new payload is appended behind it");

  const rt::Text writing = out + kWritingSuffix;
  bool ok;
  {
    OutputFile file(writing);
    ok = file.is_open() && file.AppendRange(updater, 0, image_size) && file.AppendRange(game, 0, game_size) &&
         file.Append(trailer);
  }
  if (!ok || !ReplaceFile(writing, out)) {
    rt::RemoveFile(writing);
    ReportError("pack: cannot write " + Shown(out));
    return kExitFailed;
  }
  PrintOut("packed " + Shown(out) + ": image " + std::to_string(image_size) + " bytes, payload " +
           std::to_string(game_size) + " bytes at offset " + std::to_string(image_size) + ", trailer \"" +
           trailer + "\"");
  return kExitOk;
}

}  // namespace patchtool

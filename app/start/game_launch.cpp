// The enter-game click: write the payload carried behind the updater's own
// image out as game.dat, start it and close the window.
#include "app/flow.h"
#include "list/layout.h"
#include "payload/payload.h"
#include "runtime/dialog.h"
#include "runtime/files.h"
#include "runtime/process.h"

namespace app {
namespace {
constexpr const char* kGameFile = list::kGameFileName;
}

void LaunchGame(Flow& flow) {
  const ClientFolder& client = flow.state.Client;
  rt::Text game_path = client.Path(kGameFile);
  rt::SetFileAttributes(game_path, 0);  // a read-only game.dat must go too
  rt::RemoveFile(game_path);

  // The payload is located from the file's last bytes and copied in chunks,
  // so a large game never has to fit in memory.
  rt::Text own_file = client.Path(rt::ExecutableName());
  std::optional<payload::PayloadRange> range = payload::LocatePayload(own_file);
  if (!range) {
    flow.services.log("game start: no game payload behind the updater");
    flow.services.show_message(kTextNoPayload, rt::kMsgOk | rt::kMsgIconError, kCaptionError);
    return;
  }
  (void)payload::CopyPayload(own_file, *range, game_path);  // failures surface as a game that does not start
  // The game's command line is its name alone, as it always was: it starts
  // from the client folder, the updater's current folder.
  const bool started = flow.services.run_program(kGameFile);
  flow.services.log(rt::Text("game start: ") + kGameFile + (started ? " started" : " did not start"));
  flow.window->Close();
}

}  // namespace app

// The handler of the window's first activation: the version check, its
// outcome kept in the shared state (the list's mirror, the files to fetch),
// and shown: up to date with the enter-game button lit, the list failed, or
// the files to fetch and the download run started.
#include "app/check/version_check.h"
#include "app/flow.h"
#include <optional>
#include <utility>

#include "runtime/convert.h"
#include "trust/signed_list.h"
#include "runtime/text.h"

namespace app {

void CheckRemoteVersion(Flow& flow) {
  bool expired = false;
  std::optional<VersionCheck> check = CheckVersion(flow, &expired);
  ui::WindowPort& window = *flow.window;
  if (!check) {
    // An expired list where no mirror gave a usable one: most likely the
    // player's clock is ahead (a mirror left on an old release is the other
    // cause), and only the player can set it right.
    if (expired) {
      flow.services.log("list unusable: expired by this computer's clock, which says " +
                        trust::DateText(flow.services.utc_day()) + " (UTC); is it ahead?");
    } else {
      flow.services.log("list unusable");
    }
    window.SetCaption(ui::kCurrentTaskLabel, expired ? kTextListExpired : kTextListFailed);
    window.SetDisabled(ui::kEnterGameButton, true);
    return;
  }
  SharedState& g = flow.state;
  g.Site.UseListMirror(check->list_mirror);
  const int32_t files = static_cast<int32_t>(check->files.size());
  flow.services.log("list checked: " + rt::ToText(files) + " files to update");
  if (files == 0) {
    window.SetCaption(ui::kCurrentTaskLabel, kTextUpToDate);
    window.SetDisabled(ui::kEnterGameButton, false);
    return;
  }
  window.SetCaption(ui::kCurrentTaskLabel, rt::FormatText(kTextFilesToUpdate, static_cast<int>(files)));
  g.PatchList = std::move(check->files);
  window.SetDisabled(ui::kEnterGameButton, true);
  flow.services.start_download_run();
}

}  // namespace app

// The remote version check: fetch filelist.txt, checksum every listed local
// file, and either enable the enter-game button or start the download run.
#include <utility>

#include "app/file_checksum.h"
#include "app/flow.h"
#include "app/remote_list.h"
#include "runtime/convert.h"
#include "runtime/text.h"

namespace app {

void CheckRemoteVersion(Flow& flow) {
  Globals& g = flow.globals;
  ui::WindowPort& window = *flow.window;
  window.SetCaption(ui::kGameTitleLabel, g.GameTitle);
  window.SetCaption(ui::kCurrentTaskLabel, kTextChecking);

  rt::Text url = g.ServerBaseUrl + "patch/" + rt::ToText(g.PatchFolderNumber) + "/filelist.txt";
  // Anything but a complete 2xx answer is a failed fetch: an error page is no
  // list, and a list cut short would hide entries.
  RemoteList list;
  {
    const rt::FetchResult fetched = flow.services.fetch_url(url);  // released before the checksums
    if (fetched.ok()) list = ParseRemoteList(fetched.body);
  }
  if (!list.usable) {
    window.SetCaption(ui::kCurrentTaskLabel, kTextListFailed);
    window.SetDisabled(ui::kEnterGameButton, true);
    return;
  }
  g.RemoteFileList = std::move(list.entries);

  std::vector<PatchEntry> candidates;
  for (const RemoteRow& row : g.RemoteFileList) {
    // Relative paths resolve against the program folder, the current folder.
    // Messages get through between chunks too, so a large file does not
    // freeze the window.
    int32_t local = FileChecksumOfFile(row.path, flow.services.process_events);
    flow.services.process_events();
    if (rt::ToText(local) != row.checksum) candidates.push_back(PatchEntry{row.path, row.checksum});
  }

  if (candidates.empty()) {
    window.SetCaption(ui::kCurrentTaskLabel, kTextUpToDate);
    window.SetDisabled(ui::kEnterGameButton, false);
    return;
  }
  window.SetCaption(ui::kCurrentTaskLabel,
                    rt::FormatText(kTextFilesToUpdate, static_cast<int>(candidates.size())));
  g.PatchList = candidates;
  window.SetDisabled(ui::kEnterGameButton, true);
  flow.services.start_download_run();
}

}  // namespace app

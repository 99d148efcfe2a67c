// The remote version check: fetch filelist.txt, checksum every listed local
// file, and either enable the enter-game button or start the download run.
#include <utility>

#include "app/flow.h"
#include "app/list_trust.h"
#include "app/remote_list.h"
#include "app/retry.h"
#include "app/update_log.h"
#include "checksum/file_checksum.h"
#include "runtime/convert.h"
#include "runtime/text.h"

namespace app {
namespace {

// The list fetch, tried again after a transient failure with the same waits
// as a patch file. Runs on the window thread: the waits let messages through,
// and the exit question ends the process during them too.
rt::FetchResult FetchList(Flow& flow, const rt::Text& url) {
  ui::WindowPort& window = *flow.window;
  for (int32_t retry = 0;; ++retry) {
    const uint32_t started = flow.services.tick_count();
    rt::FetchResult result = flow.services.fetch_url(url);
    const uint32_t ms = flow.services.tick_count() - started;
    flow.services.log("list " + url + ": " + rt::ToString(result.outcome) + ", HTTP " + rt::ToText(result.status) +
                      ", " + rt::ToText(static_cast<int64_t>(result.body.size())) + " bytes, " + Seconds(ms));
    if (!IsTransientFetch(result) || retry == kMoreTries) return result;
    window.SetCaption(ui::kCurrentTaskLabel, rt::FormatText(kTextRetrying, retry + 1, kMoreTries));
    flow.services.log("retry " + rt::ToText(retry + 1) + "/" + rt::ToText(kMoreTries) + " of the list in " +
                      Seconds(static_cast<uint32_t>(kRetryWaitsMs[retry])));
    flow.services.delay(kRetryWaitsMs[retry]);
    window.SetCaption(ui::kCurrentTaskLabel, kTextChecking);
  }
}

}  // namespace

void CheckRemoteVersion(Flow& flow) {
  Globals& g = flow.globals;
  ui::WindowPort& window = *flow.window;
  window.SetCaption(ui::kGameTitleLabel, g.GameTitle);
  window.SetCaption(ui::kCurrentTaskLabel, kTextChecking);

  // The list comes from the first mirror, in order, that gives a usable one.
  // Anything but a complete 2xx answer after its tries is a failed fetch: an
  // error page is no list, and a list cut short would hide entries. With a
  // key, the list must also carry a valid signature and a sequence not below
  // the last one accepted.
  const rt::Text sequence_file = g.Site.LocalPath(kSequenceFileName);
  RemoteList list;
  ListTrust trusted;
  for (const rt::Text& mirror : g.Site.Mirrors()) {
    {
      const rt::FetchResult fetched = FetchList(flow, g.Site.ListUrl(mirror));  // released before the checksums
      trusted = ListTrust();
      list = RemoteList();
      if (fetched.ok()) {
        trusted = CheckListTrust(fetched.body, g.ListPublicKey, sequence_file);
        if (trusted.trusted) {
          list = ParseRemoteList(trusted.body);
        } else {
          flow.services.log(rt::Text("list refused: ") + trust::ToString(trusted.verdict));
        }
      }
      trusted.body = rt::Bytes();
    }
    if (list.usable) {
      g.Site.UseListMirror(mirror);
      break;
    }
  }
  if (!list.usable) {
    flow.services.log("list unusable");
    window.SetCaption(ui::kCurrentTaskLabel, kTextListFailed);
    window.SetDisabled(ui::kEnterGameButton, true);
    return;
  }
  RememberListSequence(trusted, g.ListPublicKey, sequence_file);

  std::vector<PatchEntry> candidates;
  for (PatchEntry& entry : list.entries) {
    // Relative paths resolve against the program folder, the current folder.
    // Messages get through between chunks too, so a large file does not
    // freeze the window.
    int32_t local = checksum::FileChecksumOfFile(entry.path, flow.services.process_events);
    flow.services.process_events();
    if (rt::ToText(local) != entry.checksum) candidates.push_back(std::move(entry));
  }

  flow.services.log("list checked: " + rt::ToText(static_cast<int32_t>(candidates.size())) + " files to update");
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

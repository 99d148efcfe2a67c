#include "app/start/write_check.h"

#include "app/disk_full.h"
#include "list/layout.h"
#include "runtime/convert.h"
#include "runtime/text.h"

namespace app {
namespace {

rt::Text ErrorCode(uint32_t error) { return "error " + rt::ToText(error); }

// The link the entry's file or its partial file would be written through,
// empty when none: writing there would change whatever the link leads to.
rt::Text LinkOnTheWay(Flow& flow, const PatchEntry& entry) {
  const rt::Text& base = flow.state.Client.Folder();
  const rt::Text link = flow.services.find_link(base, entry.path);
  return link.empty() ? flow.services.find_link(base, entry.path + list::kPartialSuffix) : link;
}

}  // namespace

rt::Text CheckWriteAccess(Flow& flow) {
  SharedState& g = flow.state;
  const rt::Text& folder = g.Client.Folder();
  const rt::AccessCheck folder_check = flow.services.probe_folder(folder);
  if (folder_check.access == rt::WriteAccess::kDiskFull) {
    flow.services.log("write check: the client folder's disk is full, " + ErrorCode(folder_check.error));
    return DiskFullText(0);
  }
  if (folder_check.access != rt::WriteAccess::kOk) {
    flow.services.log("write check: the client folder cannot be written, " + ErrorCode(folder_check.error));
    return kTextFolderNotWritable;
  }
  // Links first: the replace probe below clears a read-only attribute, which
  // through a link would already change a file outside the client.
  for (const PatchEntry& entry : g.PatchList) {
    const rt::Text link = LinkOnTheWay(flow, entry);
    if (link.empty()) continue;
    flow.services.log("write check: " + entry.path + " goes through the link " + link + ", refused");
    return rt::FormatText(kTextPathIsLink, link.c_str());
  }
  for (const PatchEntry& entry : g.PatchList) {
    const rt::AccessCheck check = flow.services.probe_replaceable(g.Client.Path(entry.path));
    if (check.access == rt::WriteAccess::kOk) continue;
    const bool in_use = check.access == rt::WriteAccess::kInUse;
    flow.services.log("write check: " + entry.path + (in_use ? " is in use, " : " cannot be written, ") +
                      ErrorCode(check.error));
    return rt::FormatText(in_use ? kTextFileInUse : kTextFileNotWritable, entry.path.c_str());
  }
  return rt::Text();
}

}  // namespace app

#include "app/start/write_check.h"

#include <algorithm>
#include <set>
#include <vector>

#include "app/disk_full.h"
#include "list/layout.h"
#include "runtime/convert.h"
#include "runtime/text.h"

namespace app {
namespace {

rt::Text ErrorCode(uint32_t error) { return "error " + rt::ToText(error); }

// The links the entry's file or its partial files (its own, and its form's
// when the list offers forms) are written through (a partial file itself may
// be one), each once.
std::vector<rt::PathLink> LinksOnTheWay(Flow& flow, const PatchEntry& entry) {
  const rt::Text& base = flow.state.Client.Folder();
  std::vector<rt::PathLink> links = flow.services.find_links(base, entry.path);
  std::vector<rt::Text> partials = {entry.path + list::kPartialSuffix};
  if (!entry.forms.empty()) partials.push_back(entry.path + list::kFormPartialSuffix);
  for (const rt::Text& partial : partials) {
    for (rt::PathLink& link : flow.services.find_links(base, partial)) {
      const bool known = std::any_of(links.begin(), links.end(),
                                     [&link](const rt::PathLink& seen) { return seen.link == link.link; });
      if (!known) links.push_back(std::move(link));
    }
  }
  return links;
}

}  // namespace

rt::Text CheckWriteAccess(Flow& flow, std::vector<bool>* behind_link) {
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
  // Links first: a link that leads nowhere refuses the run before the
  // replace probe clears any read-only attribute.
  if (behind_link != nullptr) behind_link->assign(g.PatchList.size(), false);
  std::set<rt::Text> logged;
  for (size_t i = 0; i < g.PatchList.size(); ++i) {
    const PatchEntry& entry = g.PatchList[i].entry;
    if (!flow.services.find_links) break;
    const std::vector<rt::PathLink> links = LinksOnTheWay(flow, entry);
    for (const rt::PathLink& link : links) {
      if (!link.resolved()) {
        flow.services.log("write check: " + entry.path + " goes through the link " + link.link +
                          ", which leads nowhere: refused");
        return rt::FormatText(kTextBrokenLink, link.link.c_str());
      }
      if (logged.insert(link.link).second) {
        flow.services.log("write check: " + link.link + " is a link to " + link.target +
                          "; files below it are written there");
      }
    }
    if (behind_link != nullptr && !links.empty()) (*behind_link)[i] = true;
  }
  for (const OutdatedFile& file : g.PatchList) {
    const PatchEntry& entry = file.entry;
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

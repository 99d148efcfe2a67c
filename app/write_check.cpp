#include "app/write_check.h"

#include "runtime/convert.h"
#include "runtime/text.h"

namespace app {
namespace {

rt::Text ErrorCode(uint32_t error) { return "error " + rt::ToText(error); }

}  // namespace

rt::Text CheckWriteAccess(Flow& flow) {
  Globals& g = flow.globals;
  // The folder without its trailing "\"; empty is the current folder.
  const rt::Text folder = ParentFolderOf(g.Site.LocalPath("x"));
  const rt::AccessCheck folder_check = flow.services.probe_folder(folder);
  if (folder_check.access != rt::WriteAccess::kOk) {
    flow.services.log("write check: the client folder cannot be written, " + ErrorCode(folder_check.error));
    return kTextFolderNotWritable;
  }
  for (const PatchEntry& entry : g.PatchList) {
    const rt::AccessCheck check = flow.services.probe_replaceable(g.Site.LocalPath(entry.path));
    if (check.access == rt::WriteAccess::kOk) continue;
    const bool in_use = check.access == rt::WriteAccess::kInUse;
    flow.services.log("write check: " + entry.path + (in_use ? " is in use, " : " cannot be written, ") +
                      ErrorCode(check.error));
    return rt::FormatText(in_use ? kTextFileInUse : kTextFileNotWritable, entry.path.c_str());
  }
  return rt::Text();
}

}  // namespace app

#include "app/run/install_step.h"

#include "app/flow.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace app {

namespace {

// Brings the file's bytes to the disk; false when it cannot be opened or the
// system refused.
bool FlushToDisk(const rt::Text& path) {
  const rt::OpenedFile file(rt::OpenFile(path, rt::kModeWrite, rt::kShareDenyNone));
  return file && rt::FlushFile(file.get());
}

}  // namespace

InstallResult InstallFile(const rt::Text& entry, const rt::Text& partial_path, const rt::Text& local_path,
                          const std::function<rt::AccessCheck(const rt::Text& path)>& probe) {
  InstallResult result;
  if (!FlushToDisk(partial_path)) {
    result.text = rt::FormatText(kTextFileNotWritable, entry.c_str());
    result.log_line = "install of " + entry + " failed: its partial file cannot be brought to the disk, error " +
                      rt::ToText(static_cast<int64_t>(rt::LastFileError())) + "; it stays for the next run";
    return result;
  }
  // A read-only old file refuses to be replaced on Windows: cleared only
  // then, so the common case costs the system no extra look-up.
  if (rt::ReplaceFile(partial_path, local_path) ||
      (rt::MakeWritable(local_path) && rt::ReplaceFile(partial_path, local_path))) {
    result.ok = true;
    return result;
  }
  const rt::AccessCheck check = probe ? probe(local_path) : rt::AccessCheck{rt::WriteAccess::kDenied, 0};
  const bool in_use = check.access == rt::WriteAccess::kInUse;
  result.text = rt::FormatText(in_use ? kTextFileInUse : kTextFileNotWritable, entry.c_str());
  result.log_line = "install of " + entry + " failed: " + (in_use ? "in use" : "cannot be replaced") + ", error " +
                    rt::ToText(check.error) + "; its complete partial file stays for the next run";
  return result;
}

}  // namespace app

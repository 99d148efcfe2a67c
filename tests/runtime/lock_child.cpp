// A windowed child program for the folder-lock tests: waits at most 30 s for
// the lock of the folder named by its second argument, then writes "owned" or
// "not owned" to the file named by its first.
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/instance.h"
#include "runtime/process.h"

int main() {
  const rt::TextArray args = rt::CommandLineArguments();
  if (args.size() < 2) return 2;
  const rt::InstanceLock lock(args[1], 30000);
  return rt::WriteWholeFile(args[0], rt::ToBytes(rt::Text(lock.Owned() ? "owned" : "not owned"))) ? 0 : 1;
}

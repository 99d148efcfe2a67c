// A child program for the process tests: writes what it received to the file
// named by its first argument, one line each: the arguments joined by "|",
// then the show command it was started with ("-" where there is none), then
// its run directory and executable name joined by "|".
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/thread.h"
#ifdef _WIN32
#include "runtime/win32/win.h"
#endif

int main() {
  rt::TextArray args = rt::CommandLineArguments();
  if (args.empty()) return 2;
  rt::Text joined;
  for (size_t i = 1; i < args.size(); ++i) joined += (i > 1 ? "|" : "") + args[i];
  rt::Text show = "-";
#ifdef _WIN32
  STARTUPINFOW startup = {};
  GetStartupInfoW(&startup);
  if (startup.dwFlags & STARTF_USESHOWWINDOW) show = rt::ToText(static_cast<int32_t>(startup.wShowWindow));
#endif
  const rt::Text own = rt::RunDirectory() + "|" + rt::ExecutableName();
  return rt::WriteWholeFile(args[0], rt::ToBytes(joined + "\n" + show + "\n" + own + "\n")) ? 0 : 1;
}

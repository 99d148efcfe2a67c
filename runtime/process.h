#pragma once
// The running process: its location, arguments, child programs, the message
// queue and the end of the process.
#include <cstdint>

#include "runtime/types.h"

namespace rt {

// The folder that holds the running executable, without a trailing backslash
// (a drive alone, such as "C:", for a program in a drive's root). A folder
// that GBK cannot write (ö, é, Hangul) comes in its short 8.3 form where the
// volume has one; empty when it cannot be written in GBK at all.
Text RunDirectory();
// The file name of the running executable, without its folder; the same
// short-form rule, empty when it cannot be written in GBK.
Text ExecutableName();

// The arguments after the program name (see SplitCommandLine).
TextArray CommandLineArguments();
// Splits a whole command line: the program name is skipped, quoted or not;
// arguments are separated by runs of bytes below 0x21; an argument that starts
// with a double quote runs to the next double quote, which is dropped, and may
// hold blanks. GBK-aware.
TextArray SplitCommandLine(const Text& command_line);
// The same splitting with the program name kept as the first word.
TextArray SplitCommandWords(const Text& command_line);

// RunProgram show modes.
enum ShowMode : int32_t {
  kShowHidden = 1,
  kShowNormal = 2,
  kShowMinimized = 3,
  kShowMaximized = 4,
  kShowNoActivate = 5,
  kShowMinNoActive = 6,
};
// Clamps a show mode into 1..6.
int32_t ClampShowMode(int32_t mode);
// The Windows SW_ value a (clamped) show mode stands for.
int32_t ShowModeToShowCommand(int32_t mode);

// Starts the command line (passed whole; the program is its first word) and
// returns true when the process was created. With `wait` the call blocks
// until the process ends; otherwise it waits at most 1000 ms for the new
// process to become idle for input. Show modes above 6 are 6, below 1 are 1.
bool RunProgram(const Text& command_line, bool wait, int32_t show_mode = kShowNormal);

// Dispatches the calling thread's queued messages until the queue is empty or
// a quit message is next (it stays queued).
void ProcessEvents();
// Returns once `milliseconds` have passed, delivering window messages all the
// while; 0 or less returns at once.
void DelayWithEvents(int32_t milliseconds);
// Milliseconds since an arbitrary start (wraps).
uint32_t TickCount();

// Releases the runtime's resources (exit handlers run) and ends the process.
// Called on any thread but the main one, it ends the process at once like
// EndProgramNow: the main thread may still be using what the exit handlers
// would release.
[[noreturn]] void EndProgram(int32_t exit_code);
// Ends the process at once without running exit handlers or touching the
// heap: the safe way out when another thread may have been killed while
// holding a lock.
[[noreturn]] void EndProgramNow(int32_t exit_code);

}  // namespace rt

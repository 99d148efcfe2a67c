#pragma once
// The patchtool sub-commands; each returns the process exit code.
//
// argv[0] is the sub-command's name and argv[1..argc-1] its arguments, all as
// GBK texts (main converts them from the system's encoding), so that they
// can be handed to the runtime's file functions as they are. Messages go
// through console.h, which takes UTF-8.

namespace patchtool {

// Exit codes shared by the sub-commands.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the work could not be done; the message says why
constexpr int kExitUsage = 2;   // wrong arguments

int RunChecksum(int argc, char** argv);
int RunManifest(int argc, char** argv);
int RunPublish(int argc, char** argv);
int RunPack(int argc, char** argv);
int RunInspect(int argc, char** argv);
int RunFetch(int argc, char** argv);
int RunKeygen(int argc, char** argv);
int RunVerify(int argc, char** argv);
int RunDelta(int argc, char** argv);
int RunApply(int argc, char** argv);

}  // namespace patchtool

#pragma once
// The patchtool sub-commands; each returns the process exit code.

namespace patchtool {

int RunChecksum(int argc, char** argv);
int RunManifest(int argc, char** argv);
int RunPublish(int argc, char** argv);
int RunPack(int argc, char** argv);
int RunInspect(int argc, char** argv);
int RunFetch(int argc, char** argv);

}  // namespace patchtool

#pragma once
// Before the first download of a run: can the client folder be written (is
// there room), does every link on the way to a file lead somewhere, and can
// every file be replaced? Answered before anything is deleted or fetched,
// so that a protected or full folder, a broken link or a file held open by
// the running game ends the run with a text that says what to do.
#include <vector>

#include "app/flow.h"

namespace app {

// The empty text when the run may go on. Otherwise the text for the
// current-task label, which names the cause (the file, where one file is the
// cause); the log has the system's error code, and nothing has been touched
// but a read-only attribute cleared.
//
// Links (junctions, symbolic links, mount points: a player's data folder
// moved to another disk) are followed: the files are written where they
// lead, and the log names each link and its target once. Only a link that
// leads nowhere (its target missing or unreadable) is refused. `behind_link`,
// when given, gets one flag per entry of the patch list: its file is written
// through a link, so it may land on another disk than the client's.
rt::Text CheckWriteAccess(Flow& flow, std::vector<bool>* behind_link = nullptr);

}  // namespace app

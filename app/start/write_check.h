#pragma once
// Before the first download of a run: can the client folder be written (is
// there room), does no file about to be replaced lie behind a link, and can
// every one of them be replaced? Answered before anything is deleted or
// fetched, so that a protected or full folder, a link to somewhere else or a
// file held open by the running game ends the run with a text that says what
// to do.
#include "app/flow.h"

namespace app {

// The empty text when the run may go on. Otherwise the text for the
// current-task label, which names the cause (the file, where one file is the
// cause); the log has the system's error code, and nothing has been touched
// but a read-only attribute cleared.
rt::Text CheckWriteAccess(Flow& flow);

}  // namespace app

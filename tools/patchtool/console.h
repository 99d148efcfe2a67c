#pragma once
// Output of the tool. Messages are UTF-8; on a Windows console they are
// written as UTF-16, elsewhere as UTF-8 bytes.
#include <string>

#include "runtime/types.h"

namespace patchtool {

void PrintOut(const std::string& utf8_line);  // a line on standard output
void PrintErr(const std::string& utf8_line);  // a line on standard error

// Whether progress lines are shown: standard error is a terminal (a console
// on Windows).
bool ProgressShown();
// Draws `utf8_line` over the progress line on standard error (padded to hide
// a longer line before it); `last` ends the line, so that the next message
// starts on a line of its own.
void ShowProgress(const std::string& utf8_line, bool last);

// A GBK path or name for a message.
std::string Shown(const rt::Text& gbk);
// "patchtool: " + message on standard error.
void ReportError(const std::string& utf8_message);

}  // namespace patchtool

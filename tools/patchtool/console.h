#pragma once
// Output of the tool. Messages are UTF-8; on a Windows console they are
// written as UTF-16, elsewhere as UTF-8 bytes.
#include <string>

#include "runtime/types.h"

namespace patchtool {

void PrintOut(const std::string& utf8_line);  // a line on standard output
void PrintErr(const std::string& utf8_line);  // a line on standard error

// A GBK path or name for a message.
std::string Shown(const rt::Text& gbk);
// "patchtool: " + message on standard error.
void ReportError(const std::string& utf8_message);

}  // namespace patchtool

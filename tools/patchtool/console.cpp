#include "tools/patchtool/console.h"

#include "runtime/encoding.h"

namespace patchtool {

std::string Shown(const rt::Text& gbk) { return rt::GbkToUtf8(gbk); }

void ReportError(const std::string& utf8_message) { PrintErr("patchtool: " + utf8_message); }

}  // namespace patchtool

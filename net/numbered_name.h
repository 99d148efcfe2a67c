#pragma once
// The numbered target names of HttpDownload's renameIfExists option:
// a.dat -> a(1).dat -> a(2).dat ... while a file exists under the name.
#include "runtime/types.h"

namespace net {

// Highest number tried; the name with this number is used even when taken.
constexpr int kMaxNumberedName = 100;

// For i = 1, 2, ...: "(i-1)." becomes "(i)." in both the path and the URL's
// file name; when the file name then lacks "(i).", both are rebuilt as their
// part before the first ".", "(i).", and their part up to the second ".".
// A name without "." gets an empty second part ("a" -> "a(1)."). Stops at the
// first path under which no file exists.
rt::Text NumberedFreeName(const rt::Text& save_path, const rt::Text& url_file_name);

}  // namespace net

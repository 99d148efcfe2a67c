// patchtool inspect FILE
#include <algorithm>
#include <cstring>

#include "payload/payload.h"
#include "runtime/files.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/console.h"
#include "tools/patchtool/file_copy.h"
#include "runtime/text.h"

namespace patchtool {
namespace {

constexpr char kUsage[] =
    "usage: patchtool inspect FILE\n"
    "Tells whether FILE ends with a payload trailer, where the payload lies, and\n"
    "whether the payload ends with a trailer of its own.";

// The trailer bytes for a message: non-printable bytes as \xNN.
std::string Printable(const rt::Bytes& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
      text += static_cast<char>(b);
    } else {
      text += "\\x";
      text += rt::UpperHexDigit(b >> 4);
      text += rt::UpperHexDigit(b);
    }
  }
  return "\"" + text + "\"";
}

// Describes the trailer at the end of the byte range [start, start + length)
// of `path`; false when there is none or it cannot be read.
bool DescribeTrailer(const rt::Text& path, int64_t start, int64_t length, const std::string& label) {
  const int64_t tail_size = std::min<int64_t>(payload::kTrailerSize, length);
  rt::Bytes tail;
  if (tail_size < payload::kMarkerSize || !ReadRange(path, start + length - tail_size, tail_size, &tail))
    return false;
  const std::optional<payload::PayloadRange> range =
      payload::LocateInTail(length, tail.data(), static_cast<int64_t>(tail.size()));
  if (!range) return false;
  PrintOut(label + "trailer: " + Printable(tail));
  PrintOut(label + "payload: " + std::to_string(range->size) + " bytes at offset " +
           std::to_string(start + range->offset) + " (image before it: " + std::to_string(range->offset) +
           " bytes)");
  const int64_t expected_end = length - payload::kTrailerSize;
  if (range->offset + range->size != expected_end)
    PrintOut(label + "note: the count does not fit the file; the payload is taken as the updater would, "
                     "clamped to the start");
  if (rt::Text(tail.begin(), tail.end()) != payload::FormatTrailer(range->size))
    PrintOut(label + "note: the count field is not in the packer's form");
  return true;
}

}  // namespace

int RunInspect(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    PrintOut(kUsage);
    return kExitOk;
  }
  if (argc != 2) {
    PrintErr(kUsage);
    return kExitUsage;
  }
  const rt::Text path = argv[1];
  const int64_t length = rt::FileSize64(path);
  if (length < 0 || rt::FolderExists(path)) {
    ReportError("inspect: no such file: " + Shown(path));
    return kExitFailed;
  }
  PrintOut("file: " + Shown(path) + " (" + std::to_string(length) + " bytes)");
  if (!DescribeTrailer(path, 0, length, "")) {
    PrintOut("trailer: none; the file carries no payload");
    return kExitOk;
  }
  const std::optional<payload::PayloadRange> range = payload::LocatePayload(path);
  if (range && !DescribeTrailer(path, range->offset, range->size, "nested "))
    PrintOut("nested trailer: none");
  return kExitOk;
}

}  // namespace patchtool

#include "tools/patchtool/file_copy.h"

#include <algorithm>
#include <vector>

#include "runtime/files.h"

namespace patchtool {
namespace {

constexpr size_t kCopyChunk = 1 << 20;

}  // namespace

OutputFile::OutputFile(const rt::Text& path)
    : number_(rt::OpenFile(path, rt::kModeCreateWrite, rt::kShareExclusive)) {}

OutputFile::~OutputFile() { Close(); }

void OutputFile::Close() {
  if (number_ != 0) rt::CloseFile(number_);
  number_ = 0;
}

bool OutputFile::Append(const rt::Text& bytes) {
  return number_ != 0 &&
         rt::WriteToFile(number_, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

bool OutputFile::Append(const std::uint8_t* data, size_t size) {
  return number_ != 0 && rt::WriteToFile(number_, data, size);
}

bool OutputFile::AppendRange(const rt::Text& from, int64_t offset, int64_t size,
                             const std::function<void(int64_t bytes)>& copied) {
  if (number_ == 0 || offset < 0 || size < 0) return false;
  const int32_t source = rt::OpenFile(from, rt::kModeRead, rt::kShareDenyNone);
  if (source == 0) return false;
  bool ok = rt::SeekFile(source, offset);
  std::vector<std::uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(size, kCopyChunk)));
  for (int64_t left = size; ok && left > 0;) {
    const size_t chunk = static_cast<size_t>(std::min<int64_t>(left, kCopyChunk));
    ok = rt::ReadExactly(source, buffer.data(), chunk) && rt::WriteToFile(number_, buffer.data(), chunk);
    left -= static_cast<int64_t>(chunk);
    if (ok && copied) copied(static_cast<int64_t>(chunk));
  }
  rt::CloseFile(source);
  return ok;
}

bool ReadRange(const rt::Text& path, int64_t offset, int64_t size, rt::Bytes* out) {
  out->assign(static_cast<size_t>(std::max<int64_t>(size, 0)), 0);
  const int32_t file = rt::OpenFile(path, rt::kModeRead, rt::kShareDenyNone);
  if (file == 0) return false;
  const bool ok = rt::SeekFile(file, offset) && rt::ReadExactly(file, out->data(), out->size());
  rt::CloseFile(file);
  return ok;
}

bool ReplaceFile(const rt::Text& fresh, const rt::Text& target) {
  if (rt::FileSize64(target) >= 0) {
    rt::SetFileAttributes(target, 0);
    if (!rt::RemoveFile(target)) return false;
  }
  return rt::MoveFile(fresh, target);
}

}  // namespace patchtool

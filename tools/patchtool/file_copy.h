#pragma once
// Streamed copies between files, in chunks, never a whole file in memory.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "runtime/types.h"

namespace patchtool {

// An output file created or truncated on open, closed with the object.
class OutputFile {
 public:
  explicit OutputFile(const rt::Text& path);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  bool is_open() const { return number_ != 0; }
  [[nodiscard]] bool Append(const rt::Text& bytes);
  [[nodiscard]] bool Append(const std::uint8_t* data, size_t size);
  // Appends `size` bytes of `from` read from 0-based `offset`; false when the
  // source cannot be read that far or the write fails. `copied`, when given,
  // hears of every piece written.
  [[nodiscard]] bool AppendRange(const rt::Text& from, int64_t offset, int64_t size,
                                 const std::function<void(int64_t bytes)>& copied = {});
  // Closes the file now.
  void Close();

 private:
  int32_t number_;
};

// Reads `size` bytes from 0-based `offset`; false when the file is shorter or
// cannot be read.
[[nodiscard]] bool ReadRange(const rt::Text& path, int64_t offset, int64_t size, rt::Bytes* out);

// Puts `fresh` in the place of `target`: a read-only target is made writable
// and removed first. False when the target cannot be replaced.
[[nodiscard]] bool ReplaceFile(const rt::Text& fresh, const rt::Text& target);

}  // namespace patchtool

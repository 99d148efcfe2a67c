#pragma once
// The sinks a caller puts at the head of its chain (see BodySink).
//
// PartialFile: the body assembled in a file the caller names, open for
// appending while the body arrives (other writers denied). The file outlives
// the call so that the next one resumes it; the caller moves it into place
// once it is complete (and verified). Every byte written is passed on to the
// next link, if any, in file order: before the first request the bytes a
// resume keeps (read back in pieces of kPartialReadSize), then each write.
//
// SpanFile: a span of a resource written into its place in a file that holds
// the rest of it (a part fetched again): the request resumes at the span's
// offset, and the call asks for its last byte (DownloadOptions::range_last).
//
// MemorySink: the body collected in a caller's buffer (none: dropped),
// nothing kept across calls.
#include <cstddef>
#include <cstdint>

#include "net/body_sink.h"
#include "runtime/files.h"
#include "runtime/types.h"

namespace net {

// Piece in which a partial file's bytes are read back for the next link.
constexpr size_t kPartialReadSize = 262144;

class PartialFile : public BodySink {
 public:
  // `known_absent`: the caller knows there is no file yet, so the first
  // Prepare and Kept need no look-up (under Wine a name that is not there
  // costs a listing of its whole folder, and a client may hold thousands of
  // files in one). A file there after all is fetched from byte 0.
  PartialFile(const rt::Text& path, BodySink* next, bool known_absent = false)
      : path_(path), next_(next), known_absent_(known_absent) {}
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  const rt::Text& Path() const { return path_; }

  // A kept part longer than expected goes; the next link starts over and is
  // shown the kept bytes. Bytes that cannot be read back go too (the file
  // is then fetched from byte 0); not ok only when they cannot go either.
  [[nodiscard]] SinkResult Prepare(int64_t expected_size) override;
  // The file's size (a folder of that name: 0); -1 when there is none.
  int64_t Kept() const override;
  // Opens the file for appending (emptied first when `restart`).
  [[nodiscard]] SinkResult Begin(bool restart) override;
  // Appends at the end of the file, then passes the bytes on.
  [[nodiscard]] SinkResult Write(const std::uint8_t* data, size_t size) override;
  // Closes the file.
  void End() override { file_.reset(); }
  // Deletes the file; the next link starts over.
  bool Drop() override;
  bool Keeps() const override { return true; }

  // The file's size on disk, -1 when missing.
  int64_t Size() const { return rt::FileSize64(path_); }

 private:
  [[nodiscard]] bool FeedNext(int64_t size) const;

  const rt::Text path_;
  BodySink* const next_;
  rt::OpenedFile file_;
  bool known_absent_;  // no file was found or said to be there, and none was begun since
};

class SpanFile : public BodySink {
 public:
  SpanFile(const rt::Text& path, int64_t offset, int64_t bytes) : path_(path), offset_(offset), bytes_(bytes) {}

  int64_t Kept() const override { return offset_; }
  // The file must be there: a span never starts a file. A whole answer is
  // not a span.
  [[nodiscard]] SinkResult Begin(bool restart) override;
  // Never past the span's end.
  [[nodiscard]] SinkResult Write(const std::uint8_t* data, size_t size) override;
  void End() override { file_.reset(); }
  bool Keeps() const override { return true; }
  // The bytes written so far are the span's first ones.
  int64_t Written() const { return written_; }

 private:
  const rt::Text path_;
  const int64_t offset_;
  const int64_t bytes_;
  int64_t written_ = 0;
  rt::OpenedFile file_;
};

class MemorySink : public BodySink {
 public:
  explicit MemorySink(rt::Bytes* body) : body_(body) {}

  [[nodiscard]] SinkResult Begin(bool) override {
    if (body_ != nullptr) body_->clear();
    return SinkResult();
  }
  [[nodiscard]] SinkResult Write(const std::uint8_t* data, size_t size) override {
    if (body_ != nullptr) body_->insert(body_->end(), data, data + size);
    return SinkResult();
  }

 private:
  rt::Bytes* const body_;
};

}  // namespace net

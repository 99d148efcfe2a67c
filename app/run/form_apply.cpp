#include "app/run/form_apply.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "app/run/file_verifier.h"
#include "codec/buffers.h"
#include "codec/delta/delta_apply.h"
#include "codec/zstd_decoder.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "trust/sha256.h"

namespace app {
namespace {

ApplyResult Ended(ApplyEnd end, const rt::Text& reason = rt::Text()) {
  ApplyResult result;
  result.end = end;
  result.reason = reason;
  return result;
}

// The output file: every byte written is shown to the entry's verifier and
// counted for the window.
class Output {
 public:
  // `keep`: an output a cut apply left is opened as it is (KeepSegments
  // decides what of it stays), unless it is longer than the file to make.
  Output(const rt::Text& path, const list::PatchEntry& entry, int64_t output_size, bool keep,
         std::atomic<int64_t>& done, std::atomic<int64_t>& made)
      : verifier_(std::in_place, entry), done_(done), made_(made) {
    done_.store(0);
    const int64_t size = keep ? rt::FileSize64(path) : -1;
    const bool fits = size >= 0 && size <= output_size;
    file_.reset(rt::OpenFile(path, fits ? rt::kModeOpenOrCreateRW : rt::kModeCreateWrite, rt::kShareDenyWrite));
  }

  bool Opened() const { return static_cast<bool>(file_); }

  // The output's next `size` bytes, left by a cut apply, stay when their
  // SHA-256 is `sha256`: shown to the verifier and the bar (not counted as
  // made). False, with nothing shown, when they differ or are not all there.
  bool KeepSegment(std::uint64_t size, const codec::delta::SegmentDigest& sha256, std::vector<std::uint8_t>& piece) {
    FileVerifier before = *verifier_;
    trust::Sha256 hash;
    for (std::uint64_t read = 0; read < size;) {
      const size_t want = static_cast<size_t>(std::min<std::uint64_t>(piece.size(), size - read));
      if (rt::ReadFull(file_.get(), piece.data(), want) != static_cast<int64_t>(want)) break;
      hash.Update(piece.data(), want);
      verifier_->Take(piece.data(), want);
      read += want;
      if (read == size && hash.Final() == sha256) {
        written_ += static_cast<int64_t>(size);
        kept_ += static_cast<int64_t>(size);
        done_.store(written_);
        return true;
      }
    }
    verifier_.emplace(before);
    return false;
  }
  // Writing goes on after the kept bytes.
  bool WriteAfterKept() { return rt::SeekFile(file_.get(), written_); }
  // False with failure() set when the bytes could not be written.
  bool Write(const std::uint8_t* data, size_t size) {
    if (size == 0) return true;
    if (!rt::WriteToFile(file_.get(), data, size)) {
      failure_ = Ended(ApplyEnd::kWriteFailed, "the output cannot be written");
      failure_.system_error = rt::LastFileError();
      failure_.disk_full = rt::LastFileErrorIsDiskFull();
      return false;
    }
    verifier_->Take(data, size);
    written_ += static_cast<int64_t>(size);
    done_.store(written_);
    made_.fetch_add(static_cast<int64_t>(size));
    return true;
  }
  const ApplyResult& failure() const { return failure_; }
  int64_t kept() const { return kept_; }
  // The verdict on everything written; the file is closed.
  ApplyResult Finish() {
    file_.reset();
    const FileVerdict verdict = verifier_->Finish();
    return verdict.ok ? Ended(ApplyEnd::kMade) : Ended(ApplyEnd::kFormRefused, "output: " + verdict.reason);
  }

 private:
  rt::OpenedFile file_;
  std::optional<FileVerifier> verifier_;  // optional only so that KeepSegment can put it back
  std::atomic<int64_t>& done_;
  std::atomic<int64_t>& made_;
  int64_t written_ = 0;
  int64_t kept_ = 0;  // of written_, the bytes a cut apply left
  ApplyResult failure_;
};

// The local file, read where a delta copies from.
class OldFile : public codec::delta::OldFileReader {
 public:
  explicit OldFile(const rt::Text& path) : file_(rt::OpenFile(path, rt::kModeRead, rt::kShareDenyWrite)) {}
  bool Opened() const { return static_cast<bool>(file_); }
  bool ReadAt(std::uint64_t offset, std::uint8_t* dest, size_t size) override {
    return rt::SeekFile(file_.get(), static_cast<int64_t>(offset)) && rt::ReadExactly(file_.get(), dest, size);
  }

 private:
  rt::OpenedFile file_;
};

// The form's bytes in pieces; the form was checked whole before, so a read
// that fails means the disk, not the server.
class FormReader {
 public:
  explicit FormReader(const rt::Text& path)
      : file_(rt::OpenFile(path, rt::kModeRead, rt::kShareDenyWrite)), piece_(kApplyPieceBytes) {}
  bool Opened() const { return static_cast<bool>(file_); }
  // Fills `dest` from the current position; false on a failure or an early end.
  bool Read(std::uint8_t* dest, size_t size) { return rt::ReadExactly(file_.get(), dest, size); }
  bool SeekTo(std::uint64_t offset) { return rt::SeekFile(file_.get(), static_cast<int64_t>(offset)); }
  // The next piece into `in`; false on a read failure. An empty piece: the end.
  bool Next(codec::InBuffer* in) {
    const int64_t got = rt::ReadFromFile(file_.get(), piece_.data(), piece_.size());
    if (got < 0) return false;
    *in = codec::InBuffer{piece_.data(), static_cast<size_t>(got), 0};
    return true;
  }

 private:
  rt::OpenedFile file_;
  std::vector<std::uint8_t> piece_;
};

ApplyResult DecodeZstd(const FileForm& form, FormReader& reader, Output& output, const std::atomic<bool>& stop) {
  codec::ZstdDecoder decoder(form.output_size);
  std::vector<std::uint8_t> out_piece(kApplyPieceBytes);
  // Bounded: each round reads a piece of the form, which has an end.
  for (;;) {
    if (stop.load()) return Ended(ApplyEnd::kStopped);
    codec::InBuffer in;
    if (!reader.Next(&in)) return Ended(ApplyEnd::kFormRefused, "the form cannot be read back");
    // Decode until the piece is taken and no output is left in the decoder;
    // the decoder never produces past the size, so this ends.
    bool more = true;
    while (more) {
      codec::OutBuffer out{out_piece.data(), out_piece.size(), 0};
      const codec::ZstdFault fault = decoder.Decode(&in, &out);
      if (fault != codec::ZstdFault::kNone) return Ended(ApplyEnd::kFormRefused, rt::Text("zstd: ") + ToString(fault));
      if (!output.Write(out.data, out.pos)) return output.failure();
      more = in.left() > 0 || out.room() == 0;
    }
    if (in.size == 0) break;
  }
  const codec::ZstdFault fault = decoder.Finish();
  if (fault != codec::ZstdFault::kNone) return Ended(ApplyEnd::kFormRefused, rt::Text("zstd: ") + ToString(fault));
  return output.Finish();
}

codec::delta::HeaderExpectations ExpectationsOf(const FileForm& form) {
  codec::delta::HeaderExpectations expect;
  expect.old_size = static_cast<std::uint64_t>(form.base ? form.base->size : 0);
  expect.new_size = static_cast<std::uint64_t>(form.output_size);
  expect.exact_new_size = true;
  return expect;
}

// Reads the delta's header and table from the start of the form and gives
// them alone to the applier, so that it knows the segments before it makes
// any output; the reason when it cannot.
rt::Text TakeHeader(FormReader& reader, codec::delta::DeltaApplier& applier) {
  namespace delta = codec::delta;
  std::vector<std::uint8_t> head(delta::kHeaderPrefixBytes);
  std::uint32_t count = 0;
  if (!reader.SeekTo(0) || !reader.Read(head.data(), head.size())) return "the form cannot be read back";
  if (const delta::DeltaFault fault = delta::ReadSegmentCount(head.data(), &count); fault != delta::DeltaFault::kNone)
    return rt::Text("delta: ") + delta::ToString(fault);
  head.resize(delta::kHeaderPrefixBytes + static_cast<size_t>(count) * delta::kSegmentRecordBytes);
  if (!reader.Read(head.data() + delta::kHeaderPrefixBytes, head.size() - delta::kHeaderPrefixBytes))
    return rt::Text("delta: ") + delta::ToString(delta::DeltaFault::kTruncated);
  codec::InBuffer in{head.data(), head.size(), 0};
  std::uint8_t nothing = 0;
  codec::OutBuffer none{&nothing, 0, 0};
  if (applier.Apply(in, none) == delta::ApplyStep::kFault || !applier.header())
    return rt::Text("delta: ") + delta::ToString(applier.fault());
  return rt::Text();
}

// The count of the output's whole segments, from the first, that a cut
// apply left and that match their hashes.
size_t KeepSegments(const codec::delta::DeltaHeader& header, Output& output, std::vector<std::uint8_t>& piece,
                    const std::atomic<bool>& stop) {
  size_t kept = 0;
  while (kept < header.segments.size() && !stop.load() &&
         output.KeepSegment(header.SegmentOutputBytes(kept), header.segments[kept].sha256, piece)) {
    ++kept;
  }
  return kept;
}

ApplyResult ApplyDelta(const FileForm& form, const rt::Text& old_path, FormReader& reader, Output& output,
                       const std::atomic<bool>& stop) {
  namespace delta = codec::delta;
  OldFile old(old_path);
  if (!old.Opened() || !form.base) return Ended(ApplyEnd::kFormRefused, "the local file cannot be read");
  delta::DeltaApplier applier(&old, ExpectationsOf(form));
  std::vector<std::uint8_t> out_piece(kApplyPieceBytes);
  if (const rt::Text why = TakeHeader(reader, applier); !why.empty()) return Ended(ApplyEnd::kFormRefused, why);
  const delta::DeltaHeader& header = *applier.header();

  // Whole segments a cut apply left in the output stay when they match
  // their hashes; the apply goes on at the first one that does not.
  const size_t kept = KeepSegments(header, output, out_piece, stop);
  if (stop.load()) return Ended(ApplyEnd::kStopped);
  if (!output.WriteAfterKept()) return Ended(ApplyEnd::kWriteFailed, "the output cannot be written");
  if (kept == header.segments.size()) return output.Finish();
  if (applier.ResumeAt(kept) != delta::DeltaFault::kNone || !reader.SeekTo(header.SegmentPatchOffset(kept)))
    return Ended(ApplyEnd::kFormRefused, "the form cannot be read back");
  trust::Sha256 segment_hash;
  codec::InBuffer in;
  // Bounded: every round either takes input (the form has an end), fills the
  // output (the output has a size) or ends a segment (there are finitely many).
  for (;;) {
    if (stop.load()) return Ended(ApplyEnd::kStopped);
    codec::OutBuffer out{out_piece.data(), out_piece.size(), 0};
    const delta::ApplyStep step = applier.Apply(in, out);
    segment_hash.Update(out.data, out.pos);
    if (!output.Write(out.data, out.pos)) return output.failure();
    switch (step) {
      case delta::ApplyStep::kFault:
        return Ended(ApplyEnd::kFormRefused, rt::Text("delta: ") + delta::ToString(applier.fault()));
      case delta::ApplyStep::kSegmentDone:
        if (segment_hash.Final() != applier.header()->segments[applier.segment()].sha256) {
          return Ended(ApplyEnd::kFormRefused,
                       "delta: segment " + rt::ToText(static_cast<int64_t>(applier.segment())) + " differs");
        }
        break;
      case delta::ApplyStep::kOutputFull:
        break;
      case delta::ApplyStep::kNeedInput:
        if (!reader.Next(&in)) return Ended(ApplyEnd::kFormRefused, "the form cannot be read back");
        if (in.size == 0) {
          const delta::DeltaFault fault = applier.Finish();
          if (fault != delta::DeltaFault::kNone) return Ended(ApplyEnd::kFormRefused, rt::Text("delta: ") + delta::ToString(fault));
          return output.Finish();
        }
        break;
    }
  }
}

}  // namespace

ApplyResult ApplyForm(const FileForm& form, const ApplyPaths& paths, const list::PatchEntry& entry,
                      std::atomic<int64_t>& done, std::atomic<int64_t>& made, const std::atomic<bool>& stop) {
  ApplyResult result;
  {
    FormReader reader(paths.form);
    // A delta resumes at a segment start: what a cut apply (or a cut fetch
    // of the whole file, which writes the same bytes) left may stay.
    Output output(paths.output, entry, form.output_size, form.transform == FormTransform::kDelta, done, made);
    if (!reader.Opened()) {
      result = Ended(ApplyEnd::kFormRefused, "the form cannot be read back");
    } else if (!output.Opened()) {
      result = Ended(ApplyEnd::kWriteFailed, "the output cannot be opened");
      result.system_error = rt::LastFileError();
    } else if (form.transform == FormTransform::kZstd) {
      result = DecodeZstd(form, reader, output, stop);
    } else if (form.transform == FormTransform::kDelta) {
      result = ApplyDelta(form, paths.old, reader, output, stop);
    } else {
      result = Ended(ApplyEnd::kFormRefused, "not a form");
    }
    result.kept_bytes = output.kept();
  }
  // An output cut by a stop is the start of the file: it stays for the next
  // run, which keeps what of it matches. One that filled the disk goes, so
  // that the player gets the room back.
  if (result.end != ApplyEnd::kMade && result.end != ApplyEnd::kStopped) rt::RemoveFile(paths.output);
  return result;
}

}  // namespace app

namespace app {

std::vector<FormSpan> SegmentsToFetchAgain(const FileForm& form, const rt::Text& form_path, const rt::Text& old_path,
                                           const std::atomic<bool>& stop) {
  namespace delta = codec::delta;
  if (form.transform != FormTransform::kDelta || !form.base) return {};
  FormReader reader(form_path);
  OldFile old(old_path);
  if (!reader.Opened() || !old.Opened()) return {};
  // An applier that faulted stays failed: each segment after a fault gets a
  // fresh one.
  auto applier = std::make_unique<delta::DeltaApplier>(&old, ExpectationsOf(form));
  if (!TakeHeader(reader, *applier).empty()) return {};
  const delta::DeltaHeader header = *applier->header();
  std::vector<std::uint8_t> out_piece(kApplyPieceBytes);
  std::vector<FormSpan> spans;
  for (size_t segment = 0; segment < header.segments.size(); ++segment) {
    if (stop.load()) return {};
    if (applier->fault() != delta::DeltaFault::kNone) {
      applier = std::make_unique<delta::DeltaApplier>(&old, ExpectationsOf(form));
      if (!TakeHeader(reader, *applier).empty()) return {};
    }
    bool made = false;
    if (applier->ResumeAt(segment) == delta::DeltaFault::kNone && reader.SeekTo(header.SegmentPatchOffset(segment))) {
      trust::Sha256 hash;
      codec::InBuffer in;
      // Bounded: each round takes input (the form has an end) or makes
      // output (the segment has a size), until the segment ends or faults.
      for (bool more = true; more;) {
        codec::OutBuffer out{out_piece.data(), out_piece.size(), 0};
        const delta::ApplyStep step = applier->Apply(in, out);
        hash.Update(out.data, out.pos);
        switch (step) {
          case delta::ApplyStep::kSegmentDone:
            made = hash.Final() == header.segments[segment].sha256;
            more = false;
            break;
          case delta::ApplyStep::kNeedInput:
            more = reader.Next(&in) && in.size > 0;
            break;
          case delta::ApplyStep::kOutputFull:
            break;
          case delta::ApplyStep::kFault:
            more = false;
            break;
        }
      }
    }
    if (!made) {
      spans.push_back(FormSpan{static_cast<int64_t>(header.SegmentPatchOffset(segment)),
                               static_cast<int64_t>(header.segments[segment].body_bytes), segment});
    }
  }
  return spans;
}

FileVerdict CheckFormFile(const rt::Text& path, const list::FileDigest& digest) {
  FileVerifier verifier(digest);
  FormReader reader(path);
  if (!reader.Opened()) return FileVerdict{false, "the form cannot be read back"};
  // Bounded: the file has an end.
  for (;;) {
    codec::InBuffer in;
    if (!reader.Next(&in)) return FileVerdict{false, "the form cannot be read back"};
    if (in.size == 0) break;
    verifier.Take(in.data, in.size);
  }
  return verifier.Finish();
}

}  // namespace app

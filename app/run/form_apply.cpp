#include "app/run/form_apply.h"

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
  Output(const rt::Text& path, const list::PatchEntry& entry, std::atomic<int64_t>& done, std::atomic<int64_t>& made)
      : file_(rt::OpenFile(path, rt::kModeCreateWrite, rt::kShareDenyWrite)),
        verifier_(entry),
        done_(done),
        made_(made) {
    done_.store(0);
  }

  bool Opened() const { return static_cast<bool>(file_); }
  // False with failure() set when the bytes could not be written.
  bool Write(const std::uint8_t* data, size_t size) {
    if (size == 0) return true;
    if (!rt::WriteToFile(file_.get(), data, size)) {
      failure_ = Ended(ApplyEnd::kWriteFailed, "the output cannot be written");
      failure_.system_error = rt::LastFileError();
      failure_.disk_full = rt::LastFileErrorIsDiskFull();
      return false;
    }
    verifier_.Take(data, size);
    written_ += static_cast<int64_t>(size);
    done_.store(written_);
    made_.fetch_add(static_cast<int64_t>(size));
    return true;
  }
  const ApplyResult& failure() const { return failure_; }
  // The verdict on everything written; the file is closed.
  ApplyResult Finish() {
    file_.reset();
    const FileVerdict verdict = verifier_.Finish();
    return verdict.ok ? Ended(ApplyEnd::kMade) : Ended(ApplyEnd::kFormRefused, "output: " + verdict.reason);
  }

 private:
  rt::OpenedFile file_;
  FileVerifier verifier_;
  std::atomic<int64_t>& done_;
  std::atomic<int64_t>& made_;
  int64_t written_ = 0;
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

ApplyResult ApplyDelta(const FileForm& form, const rt::Text& old_path, FormReader& reader, Output& output,
                       const std::atomic<bool>& stop) {
  namespace delta = codec::delta;
  OldFile old(old_path);
  if (!old.Opened() || !form.base) return Ended(ApplyEnd::kFormRefused, "the local file cannot be read");
  delta::HeaderExpectations expect;
  expect.old_size = static_cast<std::uint64_t>(form.base->size);
  expect.new_size = static_cast<std::uint64_t>(form.output_size);
  expect.exact_new_size = true;
  delta::DeltaApplier applier(&old, expect);
  std::vector<std::uint8_t> out_piece(kApplyPieceBytes);
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
    Output output(paths.output, entry, done, made);
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
  }
  if (result.end != ApplyEnd::kMade) rt::RemoveFile(paths.output);
  return result;
}

}  // namespace app

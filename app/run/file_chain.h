#pragma once
// The sink chain one try of a patch file writes through, built by the run:
// the partial file the run names (the form as it arrives, kept across tries
// and runs so that the next one resumes it), the transform of the form into
// the file (none today: the partial file is the file), and the verifier of
// the file. The verifier sees every byte of the file from byte 0 on each
// try, the kept part first, so nothing is read twice and nothing that did
// not verify is taken for the file.
#include <cstddef>
#include <cstdint>

#include "app/run/file_verifier.h"
#include "net/body_sink.h"
#include "net/partial_file.h"
#include "runtime/types.h"

namespace app {

// The partial file of `local_path`, and that of a form of it: the one place
// the run names them.
[[nodiscard]] rt::Text PartialPathOf(const rt::Text& local_path);
[[nodiscard]] rt::Text FormPartialPathOf(const rt::Text& local_path);

// A verifier as the last link of a chain.
class VerifierSink : public net::BodySink {
 public:
  explicit VerifierSink(FileVerifier& verifier) : verifier_(verifier) {}
  [[nodiscard]] net::SinkResult Begin(bool restart) override {
    if (restart) verifier_.Restart();
    return net::SinkResult();
  }
  [[nodiscard]] net::SinkResult Write(const std::uint8_t* data, size_t size) override {
    verifier_.Take(data, size);
    return net::SinkResult();
  }

 private:
  FileVerifier& verifier_;
};

class FileChain {
 public:
  // The chain of the whole file: its partial file, checked as the entry.
  // `partial_absent`: the run knows there is no partial file (PartialFile).
  FileChain(const rt::Text& local_path, const list::PatchEntry& entry, bool partial_absent = false);
  // The chain of a form of the file: the form's partial file, checked by
  // the form's size and SHA-256 (the file it yields is checked when it is
  // made, form_apply.h).
  FileChain(const rt::Text& local_path, const list::FileDigest& form);
  FileChain(const FileChain&) = delete;
  FileChain& operator=(const FileChain&) = delete;

  // Where the engine writes the body.
  net::BodySink& Head() { return partial_; }
  const rt::Text& PartialPath() const { return partial_.Path(); }
  // A kept part is there (or a try left one).
  bool PartialLeft() const { return partial_.Kept() >= 0; }
  // The verdict on the file the try left complete; the verifier starts over.
  [[nodiscard]] FileVerdict Verdict() { return verifier_.Finish(); }
  // The partial file goes (it did not verify, or a mirror that did not
  // write it would resume it). True when it is gone.
  bool Drop() { return partial_.Drop(); }

 private:
  FileVerifier verifier_;
  VerifierSink verify_;
  net::PartialFile partial_;
};

}  // namespace app

// The steps of one patch file that have no run around them: the form chosen
// for an entry, and the chain a try writes through (the partial file the run
// names, then the verifier, which sees the kept part first).
#include <gtest/gtest.h>

#include "app/run/file_chain.h"
#include "app/run/file_form.h"
#include "checksum/file_checksum.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tests/support/temp_folder.h"
#include "trust/sha256.h"

using namespace app;

namespace {

const rt::Text kContent = "the quick brown fox jumps over the lazy dog";

list::PatchEntry Entry(bool with_digest) {
  const rt::Bytes bytes = rt::ToBytes(kContent);
  list::PatchEntry entry{"data\\a.dat", rt::ToText(checksum::FileChecksum(bytes)), std::nullopt};
  if (with_digest) {
    entry.digest = list::FileDigest{static_cast<int64_t>(bytes.size()), trust::Sha256Of(bytes.data(), bytes.size())};
  }
  return entry;
}

bool Write(net::BodySink& sink, const rt::Text& text) {
  return sink.Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()).ok();
}

}  // namespace

// The forms a file is tried in: those it can use, smallest first, the whole
// file last with the entry's own size and digest.
TEST(FileForm, UsableFormsSmallestFirstThenTheWholeFile) {
  auto form = [](list::FormKind kind, int64_t output, int64_t size, std::optional<list::FormBase> base) {
    list::FormLine line;
    line.kind = kind;
    line.output_size = output;
    line.size = size;
    line.name = "patch/forms/" + rt::ToText(size);
    line.base = std::move(base);
    return line;
  };
  const int64_t n = static_cast<int64_t>(kContent.size());
  const list::FormBase local{1000, "-77"};
  using K = list::FormKind;
  using T = FormTransform;
  struct Case {
    const char* what;
    bool signed_list;
    std::vector<list::FormLine> forms;
    bool local_present;
    std::vector<T> want;
  } const cases[] = {
      {"no forms", true, {}, true, {T::kNone}},
      {"a delta from the local file before the copy", true,
       {form(K::kZstd, n, 30, {}), form(K::kDelta, n, 9, local)}, true, {T::kDelta, T::kZstd, T::kNone}},
      {"a delta from another base is left out", true,
       {form(K::kDelta, n, 9, list::FormBase{1000, "-78"}), form(K::kDelta, n, 8, list::FormBase{999, "-77"}),
        form(K::kZstd, n, 30, {})},
       true, {T::kZstd, T::kNone}},
      {"no local file: no delta", true, {form(K::kDelta, n, 9, local)}, false, {T::kNone}},
      {"an output size other than the signed size", true, {form(K::kZstd, n + 1, 30, {})}, true, {T::kNone}},
      {"unsigned: the form's output size bounds it", false, {form(K::kZstd, n + 1, 30, {})}, true, {T::kZstd, T::kNone}},
      {"a form no smaller than the file", true, {form(K::kZstd, n, n, {})}, true, {T::kNone}},
  };
  for (const Case& c : cases) {
    OutdatedFile file{Entry(c.signed_list), c.local_present, c.local_present ? 1000 : 0, static_cast<uint32_t>(-77)};
    file.entry.forms = c.forms;
    const std::vector<FileForm> forms = FormsToTry(file);
    std::vector<T> got;
    for (const FileForm& f : forms) got.push_back(f.transform);
    EXPECT_EQ(got, c.want) << c.what;
    const FileForm& whole = forms.back();
    EXPECT_EQ(whole.resource, "data\\a.dat") << c.what;
    EXPECT_EQ(whole.ExpectedSize(), c.signed_list ? n : -1) << c.what;
  }
}

// Whatever a try keeps, the verifier judges the whole file: the kept part
// read back, then what arrives; a start over forgets the kept part.
TEST(FileChain, TheVerifierSeesTheKeptPartThenTheRest) {
  testsupport::TempFolder folder("chain");
  const rt::Text local = folder.Path("a.dat");
  EXPECT_EQ(PartialPathOf(local), local + ".tmp");
  struct Case {
    const char* what;
    const char* kept;  // nullptr: no partial file
    bool restart;      // the server sends the whole file again
    bool ok;
  } const cases[] = {
      {"fresh", nullptr, false, true},
      {"resumed after 10 bytes", "the quick ", false, true},
      {"resumed, all kept", "the quick brown fox jumps over the lazy dog", false, true},
      {"wrong kept bytes, resumed", "THE QUICK ", false, false},
      {"wrong kept bytes, whole again", "THE QUICK ", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rt::RemoveFile(PartialPathOf(local));
    if (c.kept != nullptr) ASSERT_TRUE(rt::WriteWholeFile(PartialPathOf(local), rt::ToBytes(rt::Text(c.kept))));
    FileChain chain(local, Entry(true));
    EXPECT_EQ(chain.PartialLeft(), c.kept != nullptr);
    ASSERT_TRUE(chain.Head().Prepare(static_cast<int64_t>(kContent.size())).ok());
    const int64_t kept = chain.Head().Kept();
    const size_t from = c.restart || kept < 0 ? 0 : static_cast<size_t>(kept);
    ASSERT_TRUE(chain.Head().Begin(c.restart).ok());
    ASSERT_TRUE(Write(chain.Head(), kContent.substr(from)));
    chain.Head().End();
    const FileVerdict verdict = chain.Verdict();
    EXPECT_EQ(verdict.ok, c.ok) << verdict.reason;
    EXPECT_EQ(rt::ToText(rt::ReadWholeFile(chain.PartialPath())) == kContent, c.ok);
  }
  // A dropped partial file is gone, and the verifier starts over with it.
  FileChain chain(local, Entry(false));
  ASSERT_TRUE(chain.Head().Prepare(-1).ok());
  EXPECT_TRUE(chain.Drop());
  EXPECT_FALSE(chain.PartialLeft());
  ASSERT_TRUE(chain.Head().Begin(false).ok());
  ASSERT_TRUE(Write(chain.Head(), kContent));
  chain.Head().End();
  EXPECT_TRUE(chain.Verdict().ok);
}

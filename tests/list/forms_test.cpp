// Form lines: their syntax, where the reader takes them, and that a reader
// without forms support reads a list with forms as before.
#include <gtest/gtest.h>

#include "list/file_list.h"
#include "list/forms.h"
#include "runtime/convert.h"
#include "runtime/text.h"

using namespace list;

namespace {

const rt::Text kHex(64, 'a');
const rt::Text kZstd = "#form#zstd#3#12#" + kHex + "#patch/forms/" + kHex + ".zst";
const rt::Text kDelta = "#form#delta#3#9#" + kHex + "#patch/forms/d.delta#5#-77";

FileList Parse(const rt::Text& body, HashLines hashes = HashLines::kSkipped) {
  return ParseFileList(rt::ToBytes(body), hashes);
}

}  // namespace

TEST(FormLine, RefusesWhatBreaksTheSyntax) {
  struct Case {
    const char* what;
    rt::Text line;
    FormRead read;
  } const cases[] = {
      {"no field after the kind", "#form#zstd", FormRead::kMalformed},
      {"a field missing", "#form#zstd#3#12#" + kHex, FormRead::kMalformed},
      {"a field too many", kZstd + "#x", FormRead::kMalformed},
      {"a delta without its base", "#form#delta#3#9#" + kHex + "#d.delta", FormRead::kMalformed},
      {"a zstd form with a base", kZstd + "#5#-77", FormRead::kMalformed},
      {"an empty output size", "#form#zstd##12#" + kHex + "#a.zst", FormRead::kMalformed},
      {"a size past 2^63-1", "#form#zstd#9223372036854775808#12#" + kHex + "#a.zst", FormRead::kMalformed},
      {"an empty name", "#form#zstd#3#12#" + kHex + "#", FormRead::kMalformed},
      {"a name going up", "#form#zstd#3#12#" + kHex + "#patch/../x.zst", FormRead::kMalformed},
      {"a rooted name", "#form#zstd#3#12#" + kHex + "#/x.zst", FormRead::kMalformed},
      {"a name in upper case", "#form#zstd#3#12#" + kHex + "#X.zst", FormRead::kMalformed},
      {"a backslash", "#form#zstd#3#12#" + kHex + "#patch\\x.zst", FormRead::kMalformed},
      {"a URL", "#form#zstd#3#12#" + kHex + "#http://x/y.zst", FormRead::kMalformed},
      {"a name too long", "#form#zstd#3#12#" + kHex + "#" + rt::Text(kMaxFormNameLength + 1, 'a'),
       FormRead::kMalformed},
      {"a base checksum with a plus", "#form#delta#3#9#" + kHex + "#d#5#+77", FormRead::kMalformed},
      {"a base checksum of -0", "#form#delta#3#9#" + kHex + "#d#5#-0", FormRead::kMalformed},
      {"a base checksum past 32 bits", "#form#delta#3#9#" + kHex + "#d#5#2147483648", FormRead::kMalformed},
      {"a kind to come", "#form#bsdiff2#1#2#3", FormRead::kUnknownKind},
      {"a kind in upper case", "#form#ZSTD#3#12#" + kHex + "#a.zst", FormRead::kUnknownKind},
      {"not a form line", "#sha256#3#" + kHex, FormRead::kNotForm},
      {"a zstd form", kZstd, FormRead::kForm},
      {"a delta", kDelta, FormRead::kForm},
      {"a base checksum of -2^31", "#form#delta#3#9#" + kHex + "#d#5#-2147483648", FormRead::kForm},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseFormLine(c.line).read, c.read) << c.what;
}

TEST(FormLine, WrittenLinesReadBack) {
  FormLine zstd;
  zstd.kind = FormKind::kZstd;
  zstd.output_size = 9223372036854775807LL;
  zstd.size = 0;
  for (size_t i = 0; i < kFormHashBytes; ++i) zstd.sha256[i] = static_cast<std::uint8_t>(i * 9);
  zstd.name = "patch/forms/" + Sha256Hex(zstd.sha256) + ".zst";
  FormLine delta = zstd;
  delta.kind = FormKind::kDelta;
  delta.base = FormBase{123, "-2147483648"};
  for (const FormLine& form : {zstd, delta}) {
    const rt::Text line = FormatFormLine(form);
    const FormParse parse = ParseFormLine(line);
    ASSERT_EQ(parse.read, FormRead::kForm) << line;
    EXPECT_TRUE(parse.form == form) << line;
    // Never an entry to a reader without forms support, never an error page.
    EXPECT_GE(rt::SplitText(line, "#").size(), 7u) << line;
    EXPECT_EQ(line.find('<'), rt::Text::npos);
  }
}

TEST(FileList, FormLinesFollowTheirEntry) {
  const rt::Text hash = "#sha256#3#" + kHex + "\r\n";
  const rt::Text zstd = kZstd + "\r\n", delta = kDelta + "\r\n";
  struct Case {
    const char* what;
    rt::Text body;
    ListFault skipped, required;  // the fault with HashLines::kSkipped, kRequired
  } const cases[] = {
      {"before any entry", zstd + "a#1\r\n" + hash, ListFault::kStrayForm, ListFault::kStrayForm},
      {"after a line that is no entry", "a#1\r\n" + hash + "x\r\n" + zstd, ListFault::kStrayForm,
       ListFault::kStrayForm},
      {"after the sequence line", "a#1\r\n" + hash + "#sequence#3\r\n" + zstd, ListFault::kStrayForm,
       ListFault::kStrayForm},
      {"two zstd forms", "a#1\r\n" + hash + zstd + zstd, ListFault::kRepeatedForm, ListFault::kRepeatedForm},
      {"two deltas from one base", "a#1\r\n" + hash + delta + zstd + delta, ListFault::kRepeatedForm,
       ListFault::kRepeatedForm},
      {"a malformed one", "a#1\r\n" + hash + "#form#zstd#3\r\n", ListFault::kMalformedForm,
       ListFault::kMalformedForm},
      {"for another size than the hash line's", "a#1\r\n#sha256#4#" + kHex + "\r\n" + zstd, ListFault::kNone,
       ListFault::kMalformedForm},
      {"before the hash line", "a#1\r\n" + zstd + hash, ListFault::kNone, ListFault::kMissingHash},
      {"a kind to come, anywhere", "#form#later#x\r\na#1\r\n" + hash, ListFault::kStrayForm,
       ListFault::kStrayForm},
      {"a kind to come after an entry", "a#1\r\n" + hash + "#form#later#x\r\n" + zstd, ListFault::kNone,
       ListFault::kNone},
      {"the same forms for two entries", "a#1\r\n" + hash + zstd + "b#2\r\n" + hash + zstd, ListFault::kNone,
       ListFault::kNone},
      {"a zstd form and deltas from two bases",
       "a#1\r\n" + hash + zstd + delta + kDelta.substr(0, kDelta.size() - 4) + "#78\r\n", ListFault::kNone,
       ListFault::kNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(c.body).fault, c.skipped) << c.what;
    EXPECT_EQ(Parse(c.body, HashLines::kRequired).fault, c.required) << c.what;
  }
}

TEST(FileList, FormsChangeNoEntry) {
  const rt::Text hash = "#sha256#3#" + kHex + "\r\n";
  const rt::Text plain = "a.dat#1\r\n" + hash + "data\\b.pak#-2\r\n" + hash;
  const rt::Text with_forms = "a.dat#1\r\n" + hash + kZstd + "\r\n" + kDelta + "\r\ndata\\b.pak#-2\r\n" + hash + kZstd;
  for (HashLines hashes : {HashLines::kSkipped, HashLines::kRequired}) {
    const FileList before = Parse(plain, hashes), after = Parse(with_forms, hashes);
    ASSERT_TRUE(after.usable()) << ToString(after.fault);
    ASSERT_EQ(after.entries.size(), before.entries.size());
    for (size_t i = 0; i < before.entries.size(); ++i) {
      EXPECT_EQ(after.entries[i].path, before.entries[i].path);
      EXPECT_EQ(after.entries[i].checksum, before.entries[i].checksum);
      EXPECT_EQ(after.entries[i].digest, before.entries[i].digest);
    }
    ASSERT_EQ(after.entries[0].forms.size(), 2u);
    EXPECT_EQ(after.entries[0].forms[1].kind, FormKind::kDelta);
    EXPECT_EQ(after.entries[1].forms.size(), 1u);
  }
  // The writer puts each entry's forms after its hash line, as read.
  EXPECT_EQ(rt::ToText(FormatFileList(Parse(with_forms, HashLines::kRequired).entries)), with_forms + "\r\n");
}

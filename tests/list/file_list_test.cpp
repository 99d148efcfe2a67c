// The file list: which lines are entries, which lists are unusable, the
// hash lines of the signed form (missing, doubled, malformed, stray), and the
// writer, whose output the parser reads back.
#include <gtest/gtest.h>

#include "list/entry_names.h"
#include "list/file_list.h"
#include "runtime/convert.h"

using namespace list;

namespace {

FileList Parse(const rt::Text& body, HashLines hashes = HashLines::kSkipped) {
  return ParseFileList(rt::ToBytes(body), hashes);
}

bool IsUnsafeEntryPath(const rt::Text& path) { return !CheckEntryPath(path).ok(); }

const rt::Text kHex(64, 'a');

}  // namespace

TEST(FileList, UnusableWhenEmptyOrAnErrorPage) {
  for (const rt::Text& body : {rt::Text(""), rt::Text("<html>404</html>"), rt::Text("a.dat#1\r\nb<c.dat#2"),
                               rt::Text(std::string("\0a#1", 4))}) {
    EXPECT_FALSE(Parse(body).usable()) << body;
  }
}

TEST(FileList, EntriesAreLinesOfExactlyTwoPieces) {
  FileList list = Parse("a.dat#1\r\nno hash\r\na#b#c\r\nlast#\r\n\r\na##\r\n");
  ASSERT_TRUE(list.usable());
  ASSERT_EQ(list.entries.size(), 2u);
  EXPECT_EQ(list.entries[0].path, "a.dat");
  EXPECT_EQ(list.entries[0].checksum, "1");
  EXPECT_EQ(list.entries[1].path, "a");
  EXPECT_EQ(list.entries[1].checksum, "");
}

// A checksum's value is read once from the list's text: only the form a
// checksum prints as has one, so any other text matches no file.
TEST(ListedChecksum, OnlyAChecksumsOwnFormHasAValue) {
  const struct {
    const char* text;
    std::optional<int32_t> value;
  } cases[] = {
      {"", std::nullopt},          {"+12", std::nullopt},          {"012", std::nullopt},
      {" 12", std::nullopt},       {"12 ", std::nullopt},          {"-0", std::nullopt},
      {"1\n", std::nullopt},       {"2147483648", std::nullopt},   {"-2147483649", std::nullopt},
      {"0", 0},                    {"12", 12},                     {"-648389339", -648389339},
      {"2147483647", INT32_MAX},   {"-2147483648", INT32_MIN},
  };
  for (const auto& c : cases) {
    const list::ListedChecksum checksum(c.text);
    EXPECT_EQ(checksum.text(), c.text);
    EXPECT_EQ(checksum.value(), c.value) << c.text;
    EXPECT_EQ(checksum.Matches(12), c.value == 12) << c.text;
  }
}

TEST(FileList, LineFeedsAloneMakeOneLine) {
  FileList two = Parse("a#1\nb#2\n");
  ASSERT_TRUE(two.usable());
  EXPECT_TRUE(two.entries.empty());  // three pieces at "#"
  FileList one = Parse("a#1\n");
  ASSERT_EQ(one.entries.size(), 1u);
  EXPECT_EQ(one.entries[0].checksum, "1\n");  // never matches: fetched every run
}

TEST(FileList, LinesAreSplitAtCharacterBoundariesAndManyEmptyLinesCostNothing) {
  // A lead byte before CR LF takes the CR as its trail: no line end there.
  FileList joined = Parse("a#1\x81\r\nb#2\r\n");
  ASSERT_TRUE(joined.usable());
  EXPECT_TRUE(joined.entries.empty());
  // Millions of empty lines: usable, no entry, and no row kept per line.
  const rt::Text empty_lines = rt::Text("x.dat#5\r\n") + [] {
    rt::Text out;
    for (int i = 0; i < 2000000; ++i) out += "\r\n";
    return out;
  }();
  FileList many = Parse(empty_lines);
  ASSERT_TRUE(many.usable());
  ASSERT_EQ(many.entries.size(), 1u);
  EXPECT_EQ(many.entries.capacity(), 1u);
}

TEST(FileList, EmptyPathIsRefusedOnlyWhenItWouldBeFetched) {
  FileList harmless = Parse("#0\r\na.dat#1\r\n");
  ASSERT_TRUE(harmless.usable());
  ASSERT_EQ(harmless.entries.size(), 2u);
  EXPECT_EQ(harmless.entries[1].path, "a.dat");
  for (const char* line : {"#1\r\n", "#00\r\n", "# 0\r\n", "#0 \r\n"}) {
    EXPECT_FALSE(Parse(rt::Text("a.dat#1\r\n") + line).usable()) << line;
  }
}

TEST(FileList, UnsafePathsMakeTheWholeListUnusable) {
  const char* unsafe[] = {"..\\evil.dll",  "data\\..\\..\\x", "\\abs.dat",   "/abs.dat",      "C:\\x.dat",
                          "c:x.dat",       "\\\\server\\share\\x", "a:b",   "data\\",        "CON",
                          "data\\nul.txt", "com1",           "LPT9.log",   "",             "a/../../b",
                          "data\\.. \\x",
                          // not well-formed GBK: a lead byte before a separator or a non-trail byte, a lone lead
                          // byte at the end, bytes that are no character
                          "\x81/CON", "\x81/..\\..\\x", "\x81\x7F" "x.dat", "\x81\x20x.dat", "\xFF.dat",
                          "\x80.dat",
                          // the updater's own files at the top, and partial files anywhere
                          "update.dat", "GAME.DAT", "update.log", "Update.Dat.", ".\\game.dat", "./update.log",
                          "a.dat.tmp", "data\\b.TMP", "c.tmp. ", "\xD6\xD0.tmp", "update.seq", "Update.Sums",
                          "filelist.txt", "FileList.TXT",
                          // wildcards, characters Windows refuses in a name, control characters
                          "a*.dat", "a?.dat", "a\"b", "a|b", "a>b", "a\nb", "a\tb", "a\x01" "b", "a\x7F" "b",
                          // a second separator, empty and dot segments, a trailing dot or blank
                          "data/x.dat", "data\\\\x.dat", ".\\x.dat", "data\\.\\x", "a.dat.", "a.dat ", "data \\x"};
  for (const char* path : unsafe) {
    EXPECT_TRUE(IsUnsafeEntryPath(path)) << path;
    const FileList list = Parse(rt::Text("ok.dat#1\r\n") + path + "#5\r\n");
    EXPECT_FALSE(list.usable()) << path;
    EXPECT_TRUE(list.entries.empty()) << path;
  }
  // A lone lead byte at the end: refused as a path; in a list it takes the
  // "#" as its trail byte, so that line is no entry at all.
  EXPECT_TRUE(IsUnsafeEntryPath("a\\\x81"));
  const char* safe[] = {"a.dat", "data\\map\\town.dat", "中文 目录\\文件 名.pak", "..a\\b..c", "console.dat",
                        "com10", "data\\.hidden", "\x81\x5C" "x.dat",
                        "data\\update.dat", "sub\\game.dat", "sub\\filelist.txt", "update.seq.txt", "update.dat.bak", "a.tmpl", "tmp", "data\\運", "運行\\遊戲.dat", "\xD6\xD0\xCE\xC4.dat"};
  for (const char* path : safe) EXPECT_FALSE(IsUnsafeEntryPath(path)) << path;
}

// ---- the signed form's hash lines ---------------------------------------------

TEST(FileList, HashLinesAreRequiredOncePerEntryWhenAsked) {
  const rt::Text hash = "#sha256#3#" + kHex + "\r\n";
  struct Case {
    const char* what;
    rt::Text body;
    ListFault fault;  // with HashLines::kRequired
  } const cases[] = {
      {"every entry with its line", "#sequence#1\r\na#1\r\n" + hash + "b#2\r\n" + hash, ListFault::kNone},
      {"no entry at all", "#sequence#1\r\nno entry\r\n", ListFault::kNone},
      {"the last entry without", "a#1\r\n" + hash + "b#2\r\n", ListFault::kMissingHash},
      {"the first entry without", "a#1\r\nb#2\r\n" + hash, ListFault::kMissingHash},
      {"a line between entry and hash", "a#1\r\n\r\n" + hash, ListFault::kMissingHash},
      {"another kind of hash", "a#1\r\n#sha512#3#" + kHex + "\r\n", ListFault::kMissingHash},
      {"upper-case prefix", "a#1\r\n#SHA256#3#" + kHex + "\r\n", ListFault::kMissingHash},
      {"two after one entry", "a#1\r\n" + hash + hash, ListFault::kRepeatedHash},
      {"one before any entry", hash + "a#1\r\n" + hash, ListFault::kStrayHash},
      {"after a line that is no entry", "a#1\r\n" + hash + "x\r\n" + hash, ListFault::kStrayHash},
      {"upper-case hex", "a#1\r\n#sha256#3#" + rt::Text(64, 'A') + "\r\n", ListFault::kMalformedHash},
      {"63 hex digits", "a#1\r\n#sha256#3#" + rt::Text(63, 'a') + "\r\n", ListFault::kMalformedHash},
      {"65 hex digits", "a#1\r\n#sha256#3#" + rt::Text(65, 'a') + "\r\n", ListFault::kMalformedHash},
      {"a non-hex digit", "a#1\r\n#sha256#3#" + rt::Text(63, 'a') + "g\r\n", ListFault::kMalformedHash},
      {"an extra field", "a#1\r\n#sha256#3#" + kHex + "#x\r\n", ListFault::kMalformedHash},
      {"no size", "a#1\r\n#sha256##" + kHex + "\r\n", ListFault::kMalformedHash},
      {"a negative size", "a#1\r\n#sha256#-3#" + kHex + "\r\n", ListFault::kMalformedHash},
      {"a size with a plus", "a#1\r\n#sha256#+3#" + kHex + "\r\n", ListFault::kMalformedHash},
      {"a size with a leading zero", "a#1\r\n#sha256#03#" + kHex + "\r\n", ListFault::kMalformedHash},
      {"a size past 2^63-1", "a#1\r\n#sha256#9223372036854775808#" + kHex + "\r\n", ListFault::kMalformedHash},
      {"a size of 20 digits", "a#1\r\n#sha256#10000000000000000000#" + kHex + "\r\n", ListFault::kMalformedHash},
      {"a blank after the digits", "a#1\r\n#sha256#3#" + kHex + " \r\n", ListFault::kMalformedHash},
  };
  for (const Case& c : cases) {
    const FileList required = Parse(c.body, HashLines::kRequired);
    EXPECT_EQ(required.fault, c.fault) << c.what;
    if (!required.usable()) EXPECT_TRUE(required.entries.empty()) << c.what;
    // Without a key the hash lines are lines like any other.
    EXPECT_TRUE(Parse(c.body, HashLines::kSkipped).usable()) << c.what;
  }
}

TEST(FileList, HashLinesGiveEachEntryItsSizeAndDigest) {
  FileDigest big{9223372036854775807LL, {}};
  FileDigest empty{0, {}};
  for (size_t i = 0; i < kSha256Bytes; ++i) {
    big.sha256[i] = static_cast<std::uint8_t>(0xF0 + i % 16);
    empty.sha256[i] = static_cast<std::uint8_t>(i);
  }
  const std::vector<PatchEntry> entries = {{"数据\\運.pak", "-5", big}, {"e.dat", "0", empty}};
  const rt::Bytes written = FormatFileList(entries);
  const rt::Text head = "数据\\運.pak#-5\r\n#sha256#9223372036854775807#f0f1f2";
  EXPECT_EQ(rt::ToText(written).substr(0, head.size()), head);
  EXPECT_EQ(HashLine(empty), "#sha256#0#000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  const FileList read = ParseFileList(written, HashLines::kRequired);
  ASSERT_TRUE(read.usable()) << ToString(read.fault);
  ASSERT_EQ(read.entries.size(), 2u);
  EXPECT_EQ(read.entries[0].path, "数据\\運.pak");
  EXPECT_EQ(read.entries[0].digest, std::optional<FileDigest>(big));
  EXPECT_EQ(read.entries[1].digest, std::optional<FileDigest>(empty));
  // Read without a key: the same entries, no digests.
  const FileList plain = ParseFileList(written, HashLines::kSkipped);
  ASSERT_EQ(plain.entries.size(), 2u);
  EXPECT_FALSE(plain.entries[0].digest);
  // Entries without a digest are written as the plain form.
  EXPECT_EQ(rt::ToText(FormatFileList({{"a.dat", "98", std::nullopt}})), "a.dat#98\r\n");
}

// One file named twice, as Windows compares names: ASCII letters in any case,
// the bytes of a GBK character exactly (a trail byte 0x41..0x5A is no
// letter: B4 41 and B4 61 are two characters, two files).
TEST(FileList, OneFileNamedTwiceIsFetchedOnceOrTheListRefused) {
  const list::FileDigest one{3, {}};
  list::FileDigest other = one;
  other.sha256[0] = 1;
  struct Case {
    const char* what;
    std::vector<list::PatchEntry> entries;
    const char* conflict;  // empty: usable
    std::vector<rt::Text> kept;
  } const cases[] = {
      {"no repeat", {{"a.txt", "1", {}}, {"b.txt", "1", {}}}, "", {"a.txt", "b.txt"}},
      {"the same line twice", {{"a.txt", "1", {}}, {"b.txt", "2", {}}, {"a.txt", "1", {}}}, "", {"a.txt", "b.txt"}},
      {"another letter case, in a folder too", {{"Data\\a.txt", "1", {}}, {"data\\A.TXT", "1", {}}}, "",
       {"Data\\a.txt"}},
      {"GBK trail bytes that look like letters", {{"\xB4\x41.txt", "1", {}}, {"\xB4\x61.txt", "2", {}}}, "",
       {"\xB4\x41.txt", "\xB4\x61.txt"}},
      {"signed, one digest", {{"a.txt", "1", one}, {"A.txt", "1", one}}, "", {"a.txt"}},
      {"two checksums", {{"a.txt", "1", {}}, {"b.txt", "2", {}}, {"A.TXT", "3", {}}},
       "\"a.txt#1\" and \"A.TXT#3\"", {}},
      {"one checksum, two digests", {{"a.txt", "1", one}, {"a.txt", "1", other}},
       "\"a.txt#1\" and \"a.txt#1\", their sizes or SHA-256 differ", {}},
  };
  for (const Case& c : cases) {
    std::vector<list::PatchEntry> entries = c.entries;
    const list::RepeatCheck check = list::JoinRepeatedEntries(&entries);
    EXPECT_EQ(check.conflict, c.conflict) << c.what;
    if (!check.ok()) continue;
    std::vector<rt::Text> kept;
    for (const list::PatchEntry& entry : entries) kept.push_back(entry.path);
    EXPECT_EQ(kept, c.kept) << c.what;
    EXPECT_EQ(check.dropped, c.entries.size() - c.kept.size()) << c.what;
  }
}

// The name rule's answers and reasons, and what patchtool leaves out instead
// of refusing. (tests/tools walks the same names through patchtool's tree
// reader and the updater's parser.)
#include <gtest/gtest.h>

#include "list/entry_names.h"
#include "list/layout.h"

using namespace list;

TEST(EntryNames, EachRefusalHasItsReason) {
  struct Case {
    rt::Text path;
    NameFault fault;
    const char* reason;
  } const cases[] = {
      {"", NameFault::kEmpty, "an empty name"},
      {"a\\\\b", NameFault::kEmpty, "an empty name"},
      {"data\\", NameFault::kEmpty, "an empty name"},
      {"\\abs", NameFault::kRooted, "an absolute path"},
      {"/abs", NameFault::kRooted, "an absolute path"},
      {"a\\..\\b", NameFault::kDotSegment, "a \".\" or \"..\" segment"},
      {"a\tb", NameFault::kControlCharacter, "a control character"},
      {"a*b", NameFault::kForbiddenCharacter, "the character \"*\""},
      {"a:b", NameFault::kForbiddenCharacter, "the character \":\""},
      {"\x81\x20", NameFault::kNotGbk, "a byte that is no GBK character"},
      {"a\\\x81", NameFault::kNotGbk, "a byte that is no GBK character"},
      {"dot.\\x", NameFault::kTrailingDotOrBlank, "a trailing dot or blank"},
      {"aux .txt", NameFault::kDeviceName, "a reserved device name"},
      {"x\\y.TmP", NameFault::kPartialFile, "a partial download (*.tmp)"},
      {"UPDATE.SUMS", NameFault::kWorkingName, "one of the updater's own files"},
      {"filelist.txt", NameFault::kListName, "the name of the file list"},
      {"\xB9\x5C\\ok.dat", NameFault::kNone, ""},  // a trail byte 0x5C is no separator
  };
  for (const Case& c : cases) {
    const NameCheck check = CheckEntryPath(c.path);
    EXPECT_EQ(check.fault, c.fault) << c.path;
    EXPECT_EQ(Reason(check), c.reason) << c.path;
  }
}

TEST(EntryNames, PartialAndWorkingFilesAreLeftOutOnlyWhereTheyAre) {
  for (const char* own : kWorkingNames) {
    EXPECT_TRUE(IsLeftOut(CheckEntryPath(own))) << own;
    EXPECT_TRUE(CheckEntryPath(rt::Text("data\\") + own).ok()) << own;  // below the top they are client files
  }
  // Partial downloads anywhere, whatever else is odd about their names.
  EXPECT_TRUE(IsLeftOut(CheckEntryPath("a\\b|c.tmp")));
  EXPECT_FALSE(IsLeftOut(CheckEntryPath("a|b.tmp\\c")));
  // A folder's name is checked alone: its files decide the rest.
  EXPECT_TRUE(CheckNameSegment("update.dat").ok());
  EXPECT_TRUE(CheckNameSegment("x.tmp").ok());
  EXPECT_EQ(CheckNameSegment("a\\b").fault, NameFault::kForbiddenCharacter);  // a name from disk
}

TEST(EntryNames, FoldCaseLeavesDoubleByteCharactersWhole) {
  EXPECT_EQ(FoldCase("ABC.Dat"), "abc.dat");
  // 0x81 0x41 is one character whose trail byte reads as "A": not a letter.
  EXPECT_EQ(FoldCase("\x81" "AB"), "\x81" "Ab");
  EXPECT_EQ(FoldCase("Z\x81"), "z\x81");
}

TEST(Layout, PatchFolderAndOneSuffix) {
  EXPECT_EQ(PatchFolder(528), "patch/528/");
  EXPECT_EQ(PatchFolder(7), "patch/7/");
  static_assert(SameName(kPartialSuffix, ".tmp"), "");
  static_assert(!SameName(kPartialSuffix, ".tm"), "");
  static_assert(!SameName(kListFileName, "filelist.txt2"), "");
}

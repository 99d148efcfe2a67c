#include <gtest/gtest.h>

#include "app/remote_list.h"
#include "runtime/convert.h"

using namespace app;

TEST(RemoteList, UnusableWhenEmptyOrAnErrorPage) {
  for (const rt::Text& body : {rt::Text(""), rt::Text("<html>404</html>"), rt::Text("a.dat#1\r\nb<c.dat#2"),
                               rt::Text(std::string("\0a#1", 4))}) {
    EXPECT_FALSE(ParseRemoteList(rt::ToBytes(body)).usable) << body;
  }
}

TEST(RemoteList, EntriesAreLinesOfExactlyTwoPieces) {
  RemoteList list = ParseRemoteList(rt::ToBytes(rt::Text("a.dat#1\r\nno hash\r\na#b#c\r\nlast#\r\n\r\na##\r\n")));
  ASSERT_TRUE(list.usable);
  ASSERT_EQ(list.entries.size(), 2u);
  EXPECT_EQ(list.entries[0].path, "a.dat");
  EXPECT_EQ(list.entries[0].checksum, "1");
  EXPECT_EQ(list.entries[1].path, "a");
  EXPECT_EQ(list.entries[1].checksum, "");
}

TEST(RemoteList, LineFeedsAloneMakeOneLine) {
  RemoteList two = ParseRemoteList(rt::ToBytes(rt::Text("a#1\nb#2\n")));
  ASSERT_TRUE(two.usable);
  EXPECT_TRUE(two.entries.empty());  // three pieces at "#"
  RemoteList one = ParseRemoteList(rt::ToBytes(rt::Text("a#1\n")));
  ASSERT_EQ(one.entries.size(), 1u);
  EXPECT_EQ(one.entries[0].checksum, "1\n");  // never matches: fetched every run
}

TEST(RemoteList, LinesAreSplitAtCharacterBoundariesAndManyEmptyLinesCostNothing) {
  // A lead byte before CR LF takes the CR as its trail: no line end there.
  RemoteList joined = ParseRemoteList(rt::ToBytes(rt::Text("a#1\x81\r\nb#2\r\n")));
  ASSERT_TRUE(joined.usable);
  EXPECT_TRUE(joined.entries.empty());
  // Millions of empty lines: usable, no entry, and no row kept per line.
  const rt::Text empty_lines = rt::Text("x.dat#5\r\n") + [] {
    rt::Text out;
    for (int i = 0; i < 2000000; ++i) out += "\r\n";
    return out;
  }();
  RemoteList many = ParseRemoteList(rt::ToBytes(empty_lines));
  ASSERT_TRUE(many.usable);
  ASSERT_EQ(many.entries.size(), 1u);
  EXPECT_EQ(many.entries.capacity(), 1u);
}

TEST(RemoteList, EmptyPathIsRefusedOnlyWhenItWouldBeFetched) {
  RemoteList harmless = ParseRemoteList(rt::ToBytes(rt::Text("#0\r\na.dat#1\r\n")));
  ASSERT_TRUE(harmless.usable);
  ASSERT_EQ(harmless.entries.size(), 2u);
  EXPECT_EQ(harmless.entries[1].path, "a.dat");
  for (const char* line : {"#1\r\n", "#00\r\n", "# 0\r\n", "#0 \r\n"}) {
    EXPECT_FALSE(ParseRemoteList(rt::ToBytes(rt::Text("a.dat#1\r\n") + line)).usable) << line;
  }
}

TEST(RemoteList, UnsafePathsMakeTheWholeListUnusable) {
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
                          "a.dat.tmp", "data\\b.TMP", "c.tmp. ", "\xD6\xD0.tmp"};
  for (const char* path : unsafe) {
    EXPECT_TRUE(IsUnsafeEntryPath(path)) << path;
    EXPECT_FALSE(ParseRemoteList(rt::ToBytes(rt::Text("ok.dat#1\r\n") + path + "#5\r\n")).usable) << path;
  }
  // A lone lead byte at the end: refused as a path; in a list it takes the
  // "#" as its trail byte, so that line is no entry at all.
  EXPECT_TRUE(IsUnsafeEntryPath("a\\\x81"));
  const char* safe[] = {"a.dat", "data\\map\\town.dat", "中文 目录\\文件 名.pak", "..a\\b..c", "console.dat",
                        "com10", "data\\.hidden", "\x81\x5C" "x.dat",
                        "data\\update.dat", "sub\\game.dat", "update.dat.bak", "a.tmpl", "tmp", "data\\運", "運行\\遊戲.dat", "\xD6\xD0\xCE\xC4.dat"};
  for (const char* path : safe) EXPECT_FALSE(IsUnsafeEntryPath(path)) << path;
}

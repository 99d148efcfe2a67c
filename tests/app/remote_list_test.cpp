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
  ASSERT_EQ(list.rows.size(), 6u);
  EXPECT_EQ(list.is_entry, (std::vector<bool>{true, false, false, false, false, true}));
  EXPECT_EQ(list.rows[0].path, "a.dat");
  EXPECT_EQ(list.rows[0].checksum, "1");
  EXPECT_EQ(list.rows[5].path, "a");
  EXPECT_EQ(list.rows[5].checksum, "");
  EXPECT_TRUE(list.rows[1].path.empty());
}

TEST(RemoteList, LineFeedsAloneMakeOneLine) {
  RemoteList two = ParseRemoteList(rt::ToBytes(rt::Text("a#1\nb#2\n")));
  ASSERT_TRUE(two.usable);
  EXPECT_EQ(two.is_entry, std::vector<bool>{false});  // three pieces at "#"
  RemoteList one = ParseRemoteList(rt::ToBytes(rt::Text("a#1\n")));
  ASSERT_TRUE(one.is_entry[0]);
  EXPECT_EQ(one.rows[0].checksum, "1\n");  // never matches: fetched every run
}

TEST(RemoteList, UnsafePathsMakeTheWholeListUnusable) {
  const char* unsafe[] = {"..\\evil.dll",  "data\\..\\..\\x", "\\abs.dat",   "/abs.dat",      "C:\\x.dat",
                          "c:x.dat",       "\\\\server\\share\\x", "a:b",   "data\\",        "CON",
                          "data\\nul.txt", "com1",           "LPT9.log",   "",             "a/../../b",
                          "data\\.. \\x"};
  for (const char* path : unsafe) {
    EXPECT_TRUE(IsUnsafeEntryPath(path)) << path;
    EXPECT_FALSE(ParseRemoteList(rt::ToBytes(rt::Text("ok.dat#1\r\n") + path + "#5\r\n")).usable) << path;
  }
  const char* safe[] = {"a.dat", "data\\map\\town.dat", "中文 目录\\文件 名.pak", "..a\\b..c", "console.dat",
                        "com10", "data\\.hidden", "\x81\x5C" "x.dat"};
  for (const char* path : safe) EXPECT_FALSE(IsUnsafeEntryPath(path)) << path;
}

// The patch site: the list's URL and a file's URL, the mirrors of the server
// setting in the order the list and the files are tried; and where a file
// goes in the client folder.
#include <gtest/gtest.h>

#include "app/patch_site.h"
#include "flow_fixture.h"

using namespace app;

namespace {

TEST(PatchSite, ListUrlFileUrlAndLocalPath) {
  struct Case {
    const char* base;
    int32_t folder;
    const char* local_folder;
    const char* entry;
    const char* list_url;
    const char* file_url;
    const char* local_path;
  } const cases[] = {
      {"http://127.0.0.1:8088/", 528, "C:\\游戏", "data\\map\\a.pak", "http://127.0.0.1:8088/patch/528/filelist.txt",
       "http://127.0.0.1:8088/patch/528/data/map/a.pak", "C:\\游戏\\data\\map\\a.pak"},
      // A base with a path of its own, another folder, the current folder.
      {"http://c.example/updates/", 7, "", "top.dat", "http://c.example/updates/patch/7/filelist.txt",
       "http://c.example/updates/patch/7/top.dat", "top.dat"},
      // The list URL goes out as built; a file URL is escaped, the base's
      // path included; a port with a leading zero is asked for in decimal.
      {"http://h:080/my%updates/", 0, "", "100%.dat", "http://h:080/my%updates/patch/0/filelist.txt",
       "http://h:80/my%25updates/patch/0/100%25.dat", "100%.dat"},
      // GBK names as UTF-8 escapes; 運 ends in the byte 0x5C, which stays
      // part of its character in the URL and in the local path.
      {"http://h:8088/", 528, "D:\\c", "数据 目录\\運.pak", "http://h:8088/patch/528/filelist.txt",
       "http://h:8088/patch/528/%E6%95%B0%E6%8D%AE%20%E7%9B%AE%E5%BD%95/%E9%81%8B.pak", "D:\\c\\数据 目录\\運.pak"},
  };
  for (const Case& c : cases) {
    const PatchSite site(c.base, c.folder);
    const ClientFolder client(c.local_folder);
    ASSERT_EQ(site.MirrorCount(), 1u) << c.base << ": " << site.Problem();
    EXPECT_EQ(site.PatchFolderNumber(), c.folder);
    EXPECT_EQ(site.ListUrl(0), c.list_url) << c.base;
    const net::DownloadUrl target = site.FileTarget(0, c.entry);
    EXPECT_EQ(UrlOf(target), c.file_url) << c.entry;
    EXPECT_EQ(client.Path(c.entry), c.local_path) << c.entry;
  }
}

TEST(PatchSite, MirrorsByIndexAndTheListMirrorFirstForFiles) {
  // No usable setting: no mirror, nothing to fetch from, and why.
  for (const char* setting : {"", " ; ;", "http://a/;https://b/"}) {
    const PatchSite none(setting, 528);
    EXPECT_EQ(none.MirrorCount(), 0u) << setting;
    EXPECT_TRUE(none.FileMirrorOrder().empty()) << setting;
    EXPECT_FALSE(none.Problem().empty()) << setting;
  }

  PatchSite three(" http://a/ ; http://b:81/;http://c/x/", 528);
  ASSERT_EQ(three.MirrorCount(), 3u);
  EXPECT_EQ(three.MirrorText(2), "http://c/x/");
  EXPECT_EQ(three.ListMirror(), 0u);  // until a list has come
  EXPECT_EQ(three.FileMirrorOrder(), std::vector<size_t>({0, 1, 2}));
  three.UseListMirror(2);
  EXPECT_EQ(three.FileMirrorOrder(), std::vector<size_t>({2, 0, 1}));
  EXPECT_EQ(three.ListUrl(1), "http://b:81/patch/528/filelist.txt");
  // Each mirror's folder is its own: a file is split below the mirror asked for.
  EXPECT_EQ(UrlOf(three.FileTarget(1, "a\\b.dat")), "http://b:81/patch/528/a/b.dat");
  EXPECT_EQ(three.FileTarget(1, "a\\b.dat").port, 81);
  EXPECT_EQ(UrlOf(three.FileTarget(2, "a\\b.dat")), "http://c/x/patch/528/a/b.dat");
}

TEST_F(FlowTest, ABuildWithoutAServerUrlFetchesNothing) {
  state_.Site = PatchSite(" ; ", 528);
  SetList("a.dat#1\r\n");
  CheckRemoteVersion(flow_);
  EXPECT_TRUE(fetched_.empty());
  EXPECT_EQ(Task(), kTextListFailed);
  EXPECT_TRUE(EnterGameDisabled());
  EXPECT_EQ(runs_started_, 0);
}

}  // namespace

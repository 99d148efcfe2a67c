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
      // The list URL goes out as built; a file URL is escaped whole, the
      // base's blank included.
      {"http://h/my updates/", 0, "", "100%.dat", "http://h/my updates/patch/0/filelist.txt",
       "http://h/my%20updates/patch/0/100%25.dat", "100%.dat"},
      // GBK names as UTF-8 escapes; 運 ends in the byte 0x5C, which stays
      // part of its character in the URL and in the local path.
      {"http://h:8088/", 528, "D:\\c", "数据 目录\\運.pak", "http://h:8088/patch/528/filelist.txt",
       "http://h:8088/patch/528/%E6%95%B0%E6%8D%AE%20%E7%9B%AE%E5%BD%95/%E9%81%8B.pak", "D:\\c\\数据 目录\\運.pak"},
  };
  for (const Case& c : cases) {
    const PatchSite site(c.base, c.folder);
    const ClientFolder client(c.local_folder);
    EXPECT_EQ(site.PatchFolderNumber(), c.folder);
    EXPECT_EQ(site.ListUrl(site.ServerBaseUrl()), c.list_url) << c.base;
    EXPECT_EQ(site.FileUrl(site.ServerBaseUrl(), c.entry), c.file_url) << c.entry;
    EXPECT_EQ(client.Path(c.entry), c.local_path) << c.entry;
    // What the engine gets: the folder split once, the escaped entry below
    // it, piece for piece what splitting the whole file URL gives.
    const net::DownloadUrl target = site.FileTarget(site.ServerBaseUrl(), c.entry);
    const net::DownloadUrl whole = net::SplitDownloadUrl(c.file_url);
    EXPECT_EQ(target.host, whole.host) << c.entry;
    EXPECT_EQ(target.port, whole.port) << c.entry;
    EXPECT_EQ(target.host_field, whole.host_field) << c.entry;
    EXPECT_EQ(target.path, whole.path) << c.entry;
    EXPECT_EQ(target.file_name, whole.file_name) << c.entry;
    EXPECT_EQ(net::UrlText(target), c.file_url) << c.entry;
  }
}

TEST(PatchSite, MirrorsInTheirOrderAndTheListMirrorFirstForFiles) {
  // No URL at all: no mirror, nothing to fetch from.
  for (const char* setting : {"", " ; ;"}) {
    const PatchSite none(setting, 528);
    EXPECT_TRUE(none.Mirrors().empty()) << setting;
    EXPECT_EQ(none.ServerBaseUrl(), "") << setting;
  }

  const PatchSite one("http://a/", 528);
  EXPECT_EQ(one.Mirrors(), std::vector<rt::Text>({"http://a/"}));
  EXPECT_EQ(one.FileMirrorOrder(), std::vector<rt::Text>({"http://a/"}));

  PatchSite three(" http://a/ ; http://b:81/;http://c/x/", 528);
  EXPECT_EQ(three.Mirrors(), std::vector<rt::Text>({"http://a/", "http://b:81/", "http://c/x/"}));
  EXPECT_EQ(three.ServerBaseUrl(), "http://a/");  // until a list has come
  EXPECT_EQ(three.FileMirrorOrder(), std::vector<rt::Text>({"http://a/", "http://b:81/", "http://c/x/"}));
  three.UseListMirror("http://c/x/");
  EXPECT_EQ(three.FileMirrorOrder(), std::vector<rt::Text>({"http://c/x/", "http://a/", "http://b:81/"}));
  EXPECT_EQ(three.ListUrl("http://b:81/"), "http://b:81/patch/528/filelist.txt");
  EXPECT_EQ(three.FileUrl("http://c/x/", "a\\b.dat"), "http://c/x/patch/528/a/b.dat");
  // Each mirror's folder is its own: a file is split below the mirror asked for.
  EXPECT_EQ(net::UrlText(three.FileTarget("http://b:81/", "a\\b.dat")), "http://b:81/patch/528/a/b.dat");
  EXPECT_EQ(three.FileTarget("http://b:81/", "a\\b.dat").port, 81);
  // The list mirror changes where files are tried, never the mirrors.
  EXPECT_EQ(three.Mirrors().front(), "http://a/");
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

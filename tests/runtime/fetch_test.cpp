#include <gtest/gtest.h>

#include "runtime/fetch.h"
#include "runtime/fetch_url.h"

using namespace rt;

TEST(FetchUrl, ParsesSchemeHostPortAndPath) {
  struct Case {
    Text url;
    bool ok;
    bool secure;
    Text host;
    uint16_t port;
    Text path;
  } cases[] = {
      {"http://127.0.0.1:8088/patch/528/filelist.txt", true, false, "127.0.0.1", 8088, "/patch/528/filelist.txt"},
      {"http://example.test/", true, false, "example.test", 80, "/"},
      {"http://example.test", true, false, "example.test", 80, "/"},
      {"HTTP://h:81/a?b=c", true, false, "h", 81, "/a?b=c"},
      {"https://h/x", true, true, "h", 443, "/x"},
      {"ftp://h/x", false, false, "", 0, ""},
      {"h/x", false, false, "", 0, ""},
      {"http:///x", false, false, "", 0, ""},
      {"http://h:99999/x", false, false, "", 0, ""},
      {"http://h:8x/x", false, false, "", 0, ""},
      {"", false, false, "", 0, ""},
  };
  for (const auto& c : cases) {
    UrlParts parts;
    ASSERT_EQ(ParseFetchUrl(c.url, &parts), c.ok) << c.url;
    if (!c.ok) continue;
    EXPECT_EQ(parts.secure, c.secure) << c.url;
    EXPECT_EQ(parts.host, c.host) << c.url;
    EXPECT_EQ(parts.port, c.port) << c.url;
    EXPECT_EQ(parts.path, c.path) << c.url;
  }
}

TEST(FetchUrl, UnparsableOrUnreachableGivesEmptyBytes) {
  EXPECT_TRUE(FetchUrl("not a url").body.empty());
  // Port 1 on the loopback address: nothing listens there.
  EXPECT_TRUE(FetchUrl("http://127.0.0.1:1/filelist.txt").body.empty());
}

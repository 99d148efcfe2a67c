// The updater's rule for the server setting over the table the configuration's
// check is tested with (tests/cmake/server_url_cases.txt), and the pieces it
// gives the engine.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "net/server_url.h"

namespace {

TEST(ServerSetting, RefusesWhatTheConfigurationRefusesForTheSameReason) {
  std::ifstream table(UPDATER_SERVER_URL_CASES);
  ASSERT_TRUE(table.good()) << UPDATER_SERVER_URL_CASES;
  int rows = 0;
  std::string row;
  // Bounded by the table's lines.
  while (std::getline(table, row)) {
    if (!row.empty() && row.back() == '\r') row.pop_back();
    if (row.empty() || row[0] == '#') continue;
    ++rows;
    const size_t bar = row.rfind('|');
    ASSERT_NE(bar, std::string::npos) << row;
    std::string setting = row.substr(0, bar);
    for (char& c : setting) c = c == '^' ? ';' : c;
    const std::string expected = row.substr(bar + 1);
    const net::ServerSetting parsed = net::ParseServerSetting(setting);
    if (expected == "ok") {
      EXPECT_TRUE(parsed.ok()) << setting << ": " << parsed.problem;
      EXPECT_FALSE(parsed.mirrors.empty()) << setting;
    } else {
      EXPECT_NE(parsed.problem.find(expected), std::string::npos) << setting << ": " << parsed.problem;
      EXPECT_TRUE(parsed.mirrors.empty()) << setting;
    }
  }
  EXPECT_GE(rows, 30);
}

TEST(ServerSetting, MirrorsInOrderWithTheirPieces) {
  const net::ServerSetting parsed =
      net::ParseServerSetting(" http://a/ ;\thttp://b.example:08088/games/p%20q/;; http://10.0.0.1:80/x/ ");
  ASSERT_TRUE(parsed.ok()) << parsed.problem;
  ASSERT_EQ(parsed.mirrors.size(), 3u);
  struct Want {
    const char* text;
    const char* host;
    uint16_t port;
    const char* host_field;
    const char* path;
  } const wants[] = {
      {"http://a/", "a", 80, "a", ""},
      // A port with a leading zero is the same port; the path follows the
      // authority as written.
      {"http://b.example:08088/games/p%20q/", "b.example", 8088, "b.example:8088", "games/p%20q/"},
      {"http://10.0.0.1:80/x/", "10.0.0.1", 80, "10.0.0.1:80", "x/"},
  };
  for (size_t i = 0; i < parsed.mirrors.size(); ++i) {
    const net::ServerUrl& m = parsed.mirrors[i];
    EXPECT_EQ(m.text, wants[i].text);
    EXPECT_EQ(m.base.host, wants[i].host) << m.text;
    EXPECT_EQ(m.base.port, wants[i].port) << m.text;
    EXPECT_EQ(m.base.host_field, wants[i].host_field) << m.text;
    EXPECT_EQ(m.base.path, wants[i].path) << m.text;
  }
}

}  // namespace

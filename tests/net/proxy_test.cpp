// The download engine and the user's HTTP proxy: which setting names a proxy
// for a host, and the engine going through one (absolute request line, 407).
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>

#include "net/download_result.h"
#include "net/file_download.h"
#include "net/proxy_route.h"
#include "tests/net/sockets.h"
#include "tests/net/temp_folder.h"
#include "tests/servers/scripted_server.h"

namespace {

using net::DownloadResult;
using testsrv::OkResponse;
using testsrv::Script;
using testsrv::ScriptedServer;

rt::ProxySettings On(const std::string& server, const std::string& bypass = "") {
  rt::ProxySettings settings;
  settings.enabled = true;
  settings.server = server;
  settings.bypass = bypass;
  return settings;
}

std::string Route(const rt::ProxySettings& settings, const std::string& host, uint16_t port = 8088) {
  const auto route = net::ChooseProxy(settings, host, port);
  return route ? route->host + ":" + std::to_string(route->port) : "direct";
}

TEST(ChooseProxy, SettingsThatNameNoProxyGoDirect) {
  rt::ProxySettings off = On("proxy:3128");
  off.enabled = false;
  rt::ProxySettings script = On("proxy:3128");
  script.auto_config_url = "http://wpad/proxy.pac";
  const struct {
    const char* what;
    rt::ProxySettings settings;
  } cases[] = {
      {"switched off", off},
      {"automatic-configuration script", script},
      {"empty server", On("")},
      {"only other protocols", On("https=proxy:443;ftp=proxy:21")},
      {"port not a number", On("proxy:31x8")},
      {"port 0", On("proxy:0")},
      {"port above 65535", On("proxy:65536")},
      {"no host", On(":3128")},
      {"credentials in the entry", On("user@proxy:3128")},
  };
  for (const auto& c : cases) EXPECT_EQ(Route(c.settings, "updates.example.org"), "direct") << c.what;
}

TEST(ChooseProxy, ReadsTheHttpEntryInEveryForm) {
  EXPECT_EQ(Route(On("proxy:3128"), "updates.example.org"), "proxy:3128");
  EXPECT_EQ(Route(On("proxy"), "updates.example.org"), "proxy:80");
  EXPECT_EQ(Route(On("http://proxy:8080/"), "updates.example.org"), "proxy:8080");
  EXPECT_EQ(Route(On("https=secure:443;HTTP=plain:8080;ftp=f:21"), "updates.example.org"), "plain:8080");
  EXPECT_EQ(Route(On(" http=http://plain:8080  https=s:1 "), "updates.example.org"), "plain:8080");
  EXPECT_EQ(Route(On("10.0.0.1:3128;"), "updates.example.org"), "10.0.0.1:3128");
}

TEST(ChooseProxy, BypassListAndLoopback) {
  const std::string host = "updates.example.org";
  EXPECT_EQ(Route(On("p:1", "*.example.org"), host), "direct");
  EXPECT_EQ(Route(On("p:1", "*.EXAMPLE.org"), "Updates.Example.ORG"), "direct");
  EXPECT_EQ(Route(On("p:1", "updates.*.org;other"), host), "direct");
  EXPECT_EQ(Route(On("p:1", "http://updates.example.org"), host), "direct");
  EXPECT_EQ(Route(On("p:1", "updates.example.org:8088"), host, 8088), "direct");
  EXPECT_EQ(Route(On("p:1", "updates.example.org:8088"), host, 80), "p:1");
  EXPECT_EQ(Route(On("p:1", "*.example.com;example.org"), host), "p:1");
  EXPECT_EQ(Route(On("p:1", "<local>"), "fileserver"), "direct");
  EXPECT_EQ(Route(On("p:1", "<local>"), host), "p:1");
  // Loopback goes direct, as the system's client does, unless asked otherwise.
  EXPECT_EQ(Route(On("p:1"), "127.0.0.1"), "direct");
  EXPECT_EQ(Route(On("p:1"), "localhost"), "direct");
  EXPECT_EQ(Route(On("p:1", "<-loopback>"), "127.0.0.1"), "p:1");
  EXPECT_EQ(Route(On("p:1", "<local>;<-loopback>"), "localhost"), "direct");  // no dot: <local>
}

// What the setting means for the engine: a proxy it can go through, direct,
// or a route only the system's client could take, with the reason.
TEST(ClassifyProxy, FollowableDirectOrNotWithAReason) {
  using net::ProxyIssue;
  using net::ProxyVerdict;
  rt::ProxySettings script = On("proxy:3128");
  script.auto_config_url = "http://wpad/proxy.pac";
  rt::ProxySettings script_switched_off = script;
  script_switched_off.enabled = false;
  const struct {
    const char* what;
    rt::ProxySettings settings;
    const char* host;
    ProxyVerdict verdict;
    ProxyIssue issue;
    const char* route;
  } cases[] = {
      {"nothing set", rt::ProxySettings(), "updates.example.org", ProxyVerdict::kDirect, ProxyIssue::kNone, "direct"},
      {"an HTTP proxy", On("proxy:3128"), "updates.example.org", ProxyVerdict::kHttpProxy, ProxyIssue::kNone,
       "proxy:3128"},
      {"bypassed", On("proxy:3128", "*.org"), "updates.example.org", ProxyVerdict::kDirect, ProxyIssue::kNone,
       "direct"},
      {"a proxy script", script, "updates.example.org", ProxyVerdict::kNotFollowable, ProxyIssue::kAutoConfigScript,
       "direct"},
      {"a proxy script with the switch off", script_switched_off, "updates.example.org", ProxyVerdict::kNotFollowable,
       ProxyIssue::kAutoConfigScript, "direct"},
      {"SOCKS only", On("socks=s:1080"), "updates.example.org", ProxyVerdict::kNotFollowable, ProxyIssue::kSocks,
       "direct"},
      {"SOCKS beside an HTTP entry", On("socks=s:1080;http=h:8080"), "updates.example.org", ProxyVerdict::kHttpProxy,
       ProxyIssue::kNone, "h:8080"},
      {"SOCKS, bypassed", On("socks=s:1080", "updates.*"), "updates.example.org", ProxyVerdict::kDirect,
       ProxyIssue::kNone, "direct"},
      {"other protocols only", On("https=s:443;ftp=f:21"), "updates.example.org", ProxyVerdict::kDirect,
       ProxyIssue::kNone, "direct"},
      {"credentials", On("user:secret@proxy:3128"), "updates.example.org", ProxyVerdict::kNotFollowable,
       ProxyIssue::kCredentials, "direct"},
      {"credentials in the http entry", On("http=http://u@proxy:8080"), "updates.example.org",
       ProxyVerdict::kNotFollowable, ProxyIssue::kCredentials, "direct"},
      {"a bad port", On("proxy:99999"), "updates.example.org", ProxyVerdict::kNotFollowable,
       ProxyIssue::kMalformedEntry, "direct"},
      {"no host", On("http=:8080"), "updates.example.org", ProxyVerdict::kNotFollowable, ProxyIssue::kMalformedEntry,
       "direct"},
  };
  for (const auto& c : cases) {
    const net::ProxyDecision decision = net::ClassifyProxy(c.settings, c.host, 8088);
    EXPECT_EQ(decision.verdict, c.verdict) << c.what;
    EXPECT_EQ(decision.issue, c.issue) << c.what;
    EXPECT_EQ(decision.route.has_value(), c.verdict == ProxyVerdict::kHttpProxy) << c.what;
    EXPECT_EQ(Route(c.settings, c.host), c.route) << c.what;
  }
}

class ProxyDownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { nettest::StartSockets(); }
  nettest::TempFolder folder_;
};

// The engine with its route given (no proxy: direct), other options at their defaults.
DownloadResult Through(const std::optional<net::ProxyRoute>& proxy, const std::string& url,
                       const std::string& target, std::atomic<int64_t>& total, std::atomic<int64_t>& done) {
  net::FileDownload options(url, target, ".tmp");
  options.proxy = net::ProxyUse::Given(proxy);
  return net::HttpDownload(options, total, done);
}

TEST_F(ProxyDownloadTest, GoesToTheProxyWithTheWholeUrlInTheRequestLine) {
  ScriptedServer proxy({Script().Send(OkResponse("0123456789")),
                        Script().Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 6\r\n"
                                      "Content-Range: bytes 4-9/10\r\n\r\n456789")});
  ASSERT_TRUE(proxy.Ok());
  const net::ProxyRoute route{"127.0.0.1", proxy.Port()};
  // The origin server's port is one nobody listens on: only the proxy answers.
  const std::string url = "http://updates.example.org:8088/patch/528/a%20b.dat";
  const std::string target = folder_.Path("a.dat");
  std::atomic<int64_t> total{0}, done{0};
  EXPECT_EQ(Through(route, url, target, total, done), DownloadResult::Ok);
  EXPECT_EQ(proxy.Request(0),
            "GET http://updates.example.org:8088/patch/528/a%20b.dat HTTP/1.1\r\nAccept: */*\r\n"
            "Accept-Language: zh-cn\r\nHost: updates.example.org:8088\r\nConnection: Keep-Alive\r\n\r\n\r\n");
  EXPECT_EQ(nettest::ReadText(target), "0123456789");

  nettest::WriteText(target + ".tmp", "0123");
  EXPECT_EQ(Through(route, url, target, total, done), DownloadResult::Ok);
  const std::string resume = proxy.Request(1);
  EXPECT_EQ(resume.substr(0, resume.find("\r\n")),
            "GET http://updates.example.org:8088/patch/528/a%20b.dat HTTP/1.1");
  EXPECT_NE(resume.find("\r\nRange: bytes=4-\r\n"), std::string::npos);
  EXPECT_EQ(nettest::ReadText(target), "0123456789");
}

TEST_F(ProxyDownloadTest, ProxyAskingForCredentialsHasItsOwnResult) {
  // The status line arrives in two pieces, cut before the code is complete.
  ScriptedServer proxy({Script().Send("HTTP/1.1 40").Pause(100).Send(
                            "7 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"x\"\r\n"
                            "Content-Length: 0\r\n\r\n"),
                        Script().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")});
  ASSERT_TRUE(proxy.Ok());
  const net::ProxyRoute route{"127.0.0.1", proxy.Port()};
  const std::string target = folder_.Path("a.dat");
  nettest::WriteText(target + ".tmp", "kept");
  std::atomic<int64_t> total{0}, done{0};
  EXPECT_EQ(Through(route, "http://h:8088/a.dat", target, total, done),
            DownloadResult::ProxyAuthRequired);
  EXPECT_EQ(nettest::ReadText(target + ".tmp"), "kept");
  EXPECT_EQ(Through(route, "http://h:8088/a.dat", target, total, done),
            DownloadResult::BadStatus);
  // Without a proxy a 407 is an answer like any other refusal.
  ScriptedServer direct(Script().Send("HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n"));
  ASSERT_TRUE(direct.Ok());
  EXPECT_EQ(Through(std::nullopt, direct.Url("a.dat"), target, total, done),
            DownloadResult::BadStatus);
}

}  // namespace

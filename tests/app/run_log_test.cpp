// The download run's log lines: each try with its result, reason, bytes,
// time, rate, mirror, connection, resume offset and check; the install and
// the run's start and end.
#include <gtest/gtest.h>

#include "app/run/run_log.h"

using namespace app;
using net::DownloadResult;
using net::FailReason;

TEST(RunLog, EachTryLineSaysWhatSupportNeeds) {
  struct Case {
    const char* what;
    TryLine line;
    rt::Text want;
  };
  auto report = [](DownloadResult result, FailReason reason, int64_t received) {
    net::DownloadReport r(result);
    r.reason = reason;
    r.received = received;
    return r;
  };
  TryLine ok{"data\\a.pak", "http://a/", report(DownloadResult::Ok, FailReason::kNone, 8192), 50, false,
             FileVerdict{true, ""}};
  ok.report.connection_id = 3;
  ok.report.reused = true;
  TryLine signed_ok = ok;
  signed_ok.has_digest = true;
  TryLine forged = ok;
  forged.has_digest = true;
  forged.verdict = FileVerdict{false, "SHA-256 differs"};
  forged.report.reused = false;
  TryLine cut{"b.pak", "http://b/", report(DownloadResult::Interrupted, FailReason::kReset, 1200), 2000, false, {}};
  cut.report.resumed = true;
  cut.report.resumed_from = 4096;
  cut.report.connection_id = 2;
  TryLine proxied{"c.pak", "http://a/", report(DownloadResult::ConnectFailed, FailReason::kRefused, 0), 0, false, {}};
  proxied.report.proxy_issue = net::ProxyIssue::kAutoConfigScript;
  const Case cases[] = {
      {"a verified file over a reused connection", ok,
       "file data\\a.pak: result 0 (Ok), 8192 bytes, 0.05 s, 160.00 KB/s, checksum ok, mirror http://a/, "
       "connection 3 reused"},
      {"a signed list's file", signed_ok,
       "file data\\a.pak: result 0 (Ok), 8192 bytes, 0.05 s, 160.00 KB/s, checksum ok, size and SHA-256 ok, "
       "mirror http://a/, connection 3 reused"},
      {"a forged file", forged,
       "file data\\a.pak: result 0 (Ok), 8192 bytes, 0.05 s, 160.00 KB/s, MISMATCH: SHA-256 differs, "
       "mirror http://a/, connection 3 new"},
      {"a resumed try cut off", cut,
       "file b.pak: result 8 (Interrupted), 1200 bytes from offset 4096, 2.00 s, 0.59 KB/s, "
       "reset after 1200 bytes, mirror http://b/, connection 2 new"},
      {"a proxy setting not followed, no connection object", proxied,
       "file c.pak: result 3 (ConnectFailed), 0 bytes, 0.00 s, 0.00 KB/s, connection refused, mirror http://a/, "
       "proxy setting not followed: " +
           rt::Text(net::ToString(net::ProxyIssue::kAutoConfigScript))},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatTryLine(c.line), c.want) << c.what;
}

TEST(RunLog, StartInstallAndEndLines) {
  EXPECT_EQ(FormatRunStartLine(300, 6), "download run: 300 files, 6 at once");
  EXPECT_EQ(FormatInstalledLine("data\\a.pak", 4294967296), "installed data\\a.pak (4294967296 bytes)");
  EXPECT_EQ(FormatRunDoneLine(300, 2610, "启动 器.exe"), "download run done: 300 files in 2.61 s; restart 启动 器.exe");
}

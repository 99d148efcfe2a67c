// The pieces of the download engine tested directly: URL splitting, request
// forms, response heads, the chunked decoder and numbered target names.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "net/chunked_decoder.h"
#include "net/download_report.h"
#include "net/download_result.h"
#include "net/download_url.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/numbered_name.h"
#include "net/stall_watch.h"
#include "tests/net/temp_folder.h"

namespace {

using namespace net;

TEST(DownloadUrl, SplitsHostPortAndPath) {
  struct Case {
    const char* url;
    const char* host;
    uint16_t port;
    const char* host_field;
    const char* path;
    const char* file_name;
  } const cases[] = {
      {"http://H:8088/patch/528/a.dat", "H", 8088, "H:8088", "patch/528/a.dat", "a.dat"},
      {"http://H/patch/528/a.dat", "H", 80, "H", "patch/528/a.dat", "a.dat"},
      // The port is read like atoi and written back in decimal; the path is
      // then the whole URL, because the URL does not start with the new form.
      {"http://H:08088/a", "H", 8088, "H:8088", "http://H:08088/a", "a"},
      {"http://H:8088x/a", "H", 8088, "H:8088", "http://H:8088x/a", "a"},
      {"http://H:70000/a", "H", 4464, "H:4464", "http://H:70000/a", "a"},
      // No authority at all: an empty host that nothing can connect to.
      {"a.dat", "", 80, "", "a.dat", "a.dat"},
  };
  for (const Case& c : cases) {
    const DownloadUrl u = SplitDownloadUrl(c.url);
    EXPECT_EQ(u.host, c.host) << c.url;
    EXPECT_EQ(u.port, c.port) << c.url;
    EXPECT_EQ(u.host_field, c.host_field) << c.url;
    EXPECT_EQ(u.path, c.path) << c.url;
    EXPECT_EQ(u.file_name, c.file_name) << c.url;
  }
}

std::tuple<std::string, uint16_t, std::string, std::string, std::string> Pieces(const DownloadUrl& u) {
  return {u.host, u.port, u.host_field, u.path, u.file_name};
}

// A folder URL split once and a file below it gives what splitting the
// joined text gives.
TEST(DownloadUrl, BelowAFolderSplitOnceAsTheJoinedText) {
  const char* const folders[] = {"http://H:8088/patch/528/", "http://H/", "http://H:08088/p/", "http://H:8088/"};
  const char* const files[] = {"a.dat", "data/b%20c.pak", "d/", "", "%C4%E3/e.dat"};
  for (const char* folder : folders) {
    const DownloadUrl site = SplitDownloadUrl(folder);
    for (const char* file : files) {
      const std::string joined = std::string(folder) + file;
      const DownloadUrl whole = SplitDownloadUrl(joined);
      EXPECT_EQ(Pieces(UrlBelow(site, file)), Pieces(whole)) << joined;
    }
  }
}

TEST(HttpRequest, BothFormsByteForByte) {
  RequestFields f;
  f.path = "patch/528/a.dat";
  f.host_field = "H:8088";
  f.range_start = 1000;
  EXPECT_EQ(BuildRequest(RequestForm::kFresh, f),
            "GET /patch/528/a.dat HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
            "Host: H:8088\r\nConnection: Keep-Alive\r\n\r\n\r\n");
  EXPECT_EQ(BuildRequest(RequestForm::kResume, f),
            "GET /patch/528/a.dat HTTP/1.1\r\nHost: H:8088\r\nAccept: */*\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
            "Range: bytes=1000-\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n"
            "Connection: close\r\n\r\n");
  f.cookie = "k=v";
  EXPECT_EQ(BuildRequest(RequestForm::kFresh, f),
            "GET /patch/528/a.dat HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
            "Host: H:8088\r\nConnection: Keep-Alive\r\nCookie: k=v\r\n\r\n\r\n");
  EXPECT_EQ(BuildRequest(RequestForm::kResume, f),
            "GET /patch/528/a.dat HTTP/1.1\r\nHost: H:8088\r\nAccept: */*\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
            "Range: bytes=1000-\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n"
            "Connection: close\r\nCookie: k=v\r\n\r\n\r\n");
}

// The resume form's range start is written in full at every 32/64-bit
// boundary a partial file's size can cross.
TEST(HttpRequest, RangeStartsPastThe32BitBoundaries) {
  const struct {
    int64_t start;
    const char* text;
  } cases[] = {
      {0, "0"},
      {2147483647, "2147483647"},
      {2147483648, "2147483648"},
      {4294967295, "4294967295"},
      {4294967296, "4294967296"},
      {4294967297, "4294967297"},
      {INT64_MAX, "9223372036854775807"},
  };
  for (const auto& c : cases) {
    RequestFields f;
    f.path = "a";
    f.host_field = "H";
    f.range_start = c.start;
    const std::string request = BuildRequest(RequestForm::kResume, f);
    EXPECT_NE(request.find(std::string("\r\nRange: bytes=") + c.text + "-\r\n"), std::string::npos) << c.text;
  }
}

TEST(HttpResponse, StatusLine) {
  struct Case {
    const char* data;
    StatusCheck want;
  } const cases[] = {
      {"", StatusCheck::kIncomplete},
      {"HTTP/1.", StatusCheck::kIncomplete},
      {"HTTP/1.1 20", StatusCheck::kIncomplete},
      {"HTTP/1.1 200", StatusCheck::kIncomplete},
      {"X", StatusCheck::kRefused},
      {"HTTP/2 200 OK\r\n", StatusCheck::kRefused},
      {"HTTP/1.2 200 OK\r\n", StatusCheck::kRefused},
      {"HTTP/1.1 404 Not Found\r\n", StatusCheck::kRefused},
      {"HTTP/1.1 416 ", StatusCheck::kRefused},
      {"HTTP/1.1 2x0 OK\r\n", StatusCheck::kRefused},
      {"HTTP/1.1 2000 OK\r\n", StatusCheck::kRefused},
      {" HTTP/1.1 200 OK\r\n", StatusCheck::kRefused},
      {"HTTP/1.1 200 OK\r\n", StatusCheck::kSuccess},
      {"HTTP/1.0 200 OK\r\n", StatusCheck::kSuccess},
      {"HTTP/1.1 206 Partial Content\r\n", StatusCheck::kSuccess},
      {"HTTP/1.1 204\r\n", StatusCheck::kSuccess},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckStatusLine(c.data), c.want) << c.data;
}

TEST(HttpResponse, HeaderEnd) {
  EXPECT_EQ(FindHeaderEnd("HTTP/1.1 200 OK\r\n"), 0u);
  EXPECT_EQ(FindHeaderEnd("HTTP/1.1 200 OK\r\n\r\nbody"), 19u);
}

TEST(HttpResponse, HeaderFields) {
  struct Case {
    const char* head;
    bool has_length;
    bool length_valid;
    int64_t length;
    bool chunked;
  } const cases[] = {
      {"HTTP/1.1 200 OK\r\n\r\n", false, true, 0, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n", true, true, 1234, false},
      {"HTTP/1.1 200 OK\r\ncontent-length:1234\r\n\r\n", true, true, 1234, false},
      {"HTTP/1.1 200 OK\r\nCONTENT-LENGTH: \t 1234  \r\n\r\n", true, true, 1234, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\n", true, true, 2147483647, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n", true, true, 2147483648, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\n", true, true, INT64_MAX, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n", true, false, 0, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", true, false, 0, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", true, false, 0, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n", true, false, 0, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 12 34\r\n\r\n", true, false, 0, false},
      {"HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n", true, false, 0, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n", true, true, 5, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", true, false, 0, false},
      {"HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\n\r\n", false, true, 0, false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", false, true, 0, true},
      {"HTTP/1.1 200 OK\r\ntransfer-encoding: gzip, Chunked\r\n\r\n", false, true, 0, true},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n", false, true, 0, false},
  };
  for (const Case& c : cases) {
    ResponseHead head;
    ASSERT_TRUE(ParseResponseHead(c.head, &head)) << c.head;
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.has_content_length, c.has_length) << c.head;
    EXPECT_EQ(head.content_length_valid, c.length_valid) << c.head;
    if (c.length_valid) {
      EXPECT_EQ(head.content_length, c.length) << c.head;
    }
    EXPECT_EQ(head.chunked, c.chunked) << c.head;
  }
  ResponseHead head;
  EXPECT_FALSE(ParseResponseHead("HTTP/1.1 404 Not Found\r\n\r\n", &head));
}

TEST(HttpResponse, ContentRange) {
  struct Case {
    const char* value;
    bool valid;
    int64_t first;
    int64_t last;
    int64_t complete;      // -1 for "*"
    int64_t unsatisfied;   // the N of "bytes */N", else -1
  } const cases[] = {
      {"bytes 1000-999/1500", false, 0, 0, -1, -1},
      {"bytes 1000-1499/1499", false, 0, 0, -1, -1},
      {"bytes x-1/2", false, 0, 0, -1, -1},
      {"items 0-1/2", false, 0, 0, -1, -1},
      {"", false, 0, 0, -1, -1},
      {"bytes */", false, 0, 0, -1, -1},
      {"bytes */12x", false, 0, 0, -1, -1},
      {"bytes */1500", false, 0, 0, -1, 1500},
      {"bytes */0", false, 0, 0, -1, 0},
      {"bytes 1000-1499/1500", true, 1000, 1499, 1500, -1},
      {"bytes 0-0/1", true, 0, 0, 1, -1},
      {"Bytes  7-9/*", true, 7, 9, -1, -1},
  };
  for (const Case& c : cases) {
    ResponseHead head;
    ASSERT_TRUE(ParseResponseHead(std::string("HTTP/1.1 206 Partial\r\nContent-Range: ") +
                                      c.value + "\r\n\r\n",
                                  &head));
    EXPECT_EQ(head.status, 206);
    EXPECT_TRUE(head.has_content_range);
    EXPECT_EQ(head.content_range_valid, c.valid) << c.value;
    EXPECT_EQ(head.unsatisfied_complete, c.unsatisfied) << c.value;
    if (c.valid) {
      EXPECT_EQ(head.range_first, c.first) << c.value;
      EXPECT_EQ(head.range_last, c.last) << c.value;
      EXPECT_EQ(head.range_complete, c.complete) << c.value;
    }
  }
}

// Content-Range values at every boundary up to 2^63-1; 2^63 is refused.
TEST(HttpResponse, ContentRangePastThe32BitBoundaries) {
  const struct {
    const char* value;
    bool valid;
    int64_t first;
    int64_t complete;
  } cases[] = {
      {"bytes 2147483647-2147483647/2147483648", true, 2147483647, 2147483648},
      {"bytes 2147483648-4294967294/4294967295", true, 2147483648, 4294967295},
      {"bytes 4294967295-4294967295/4294967296", true, 4294967295, 4294967296},
      {"bytes 4294967296-4294967296/4294967297", true, 4294967296, 4294967297},
      {"bytes 4294967297-9223372036854775806/9223372036854775807", true, 4294967297, INT64_MAX},
      {"bytes 0-9223372036854775807/9223372036854775808", false, 0, 0},
      {"bytes 9223372036854775808-9223372036854775808/*", false, 0, 0},
  };
  for (const auto& c : cases) {
    ResponseHead head;
    ASSERT_TRUE(ParseResponseHead(std::string("HTTP/1.1 206 P\r\nContent-Range: ") + c.value + "\r\n\r\n", &head));
    EXPECT_EQ(head.content_range_valid, c.valid) << c.value;
    if (!c.valid) continue;
    EXPECT_EQ(head.range_first, c.first) << c.value;
    EXPECT_EQ(head.range_complete, c.complete) << c.value;
  }
  ResponseHead head;
  ASSERT_TRUE(ParseRangeNotSatisfiable("HTTP/1.1 416 N\r\nContent-Range: bytes */4294967297\r\n\r\n", &head));
  EXPECT_EQ(head.unsatisfied_complete, 4294967297);
  ASSERT_TRUE(ParseRangeNotSatisfiable("HTTP/1.1 416 N\r\nContent-Range: bytes */9223372036854775808\r\n\r\n", &head));
  EXPECT_EQ(head.unsatisfied_complete, -1);
}

// Whether a response lets the connection carry another request.
TEST(HttpResponse, KeepsTheConnection) {
  const struct {
    const char* head;
    bool keeps;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n", true},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", true},
      {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", false},
      {"HTTP/1.1 200 OK\r\nconnection: Keep-Alive, CLOSE\r\n\r\n", false},
      {"HTTP/1.1 200 OK\r\nConnection: closed\r\n\r\n", true},
      {"HTTP/1.1 200 OK\r\nProxy-Connection: close\r\n\r\n", false},
      {"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\n", false},
      {"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 1\r\n\r\n", true},
      {"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\n\r\n", false},  // framed only by the close
      {"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 1\r\nConnection: close\r\n\r\n", false},
  };
  for (const auto& c : cases) {
    ResponseHead head;
    ASSERT_TRUE(ParseResponseHead(c.head, &head)) << c.head;
    EXPECT_EQ(KeepsConnection(head), c.keeps) << c.head;
  }
}

TEST(HttpResponse, AnyStatusCodeAndTheRangeRefusal) {
  struct Case {
    const char* data;
    int want;
  } const cases[] = {
      {"HTTP/2 416\r\n", -1}, {"HTTP/1.1 4x6\r\n", -1}, {"HTTP/1.1 4160\r\n", -1},
      {"", 0},  {"HTTP/1.1 41", 0},  {"HTTP/1.1 416", 0},
      {"HTTP/1.1 416 Range Not Satisfiable\r\n", 416}, {"HTTP/1.0 404\r\n", 404},
      {"HTTP/1.1 200 OK\r\n", 200},
  };
  for (const Case& c : cases) EXPECT_EQ(StatusCodeOf(c.data), c.want) << c.data;

  ResponseHead head;
  EXPECT_FALSE(ParseRangeNotSatisfiable("HTTP/1.1 200 OK\r\nContent-Range: bytes */5\r\n\r\n", &head));
  ASSERT_TRUE(ParseRangeNotSatisfiable("HTTP/1.1 416 No\r\ncontent-range:bytes */5\r\n\r\n", &head));
  EXPECT_EQ(head.status, 416);
  EXPECT_EQ(head.unsatisfied_complete, 5);
}

// Feeds `input` in pieces of `step` bytes; returns the decoded bytes.
std::string Decode(const std::string& input, size_t step, ChunkedDecoder& decoder,
                   size_t* used = nullptr) {
  rt::Bytes out;
  size_t total = 0;
  for (size_t at = 0; at < input.size(); at += step) {
    const size_t n = std::min(step, input.size() - at);
    total += decoder.Feed(reinterpret_cast<const uint8_t*>(input.data()) + at, n, out);
  }
  if (used != nullptr) *used = total;
  return std::string(out.begin(), out.end());
}

TEST(ChunkedDecoder, DecodesInAnyPieces) {
  const std::string input = "5\r\nhello\r\nA;name=value\r\n0123456789\r\n1 \r\n!\r\n0\r\n\r\n";
  for (size_t step : {1u, 2u, 3u, 7u, 64u}) {
    ChunkedDecoder decoder;
    EXPECT_EQ(Decode(input, step, decoder), "hello0123456789!") << step;
    EXPECT_TRUE(decoder.Finished()) << step;
    EXPECT_FALSE(decoder.Failed());
  }
}

// The body ends at the last chunk; the trailer section is read to its empty
// line, and nothing after the message is used (it belongs to whatever comes
// next on the connection).
TEST(ChunkedDecoder, StopsAtTheEndOfTheMessage) {
  struct Case {
    const char* what;
    std::string input;
    size_t used;
    bool ended;
  } const cases[] = {
      {"trailer fields, then bytes after the message", "3\r\nabc\r\n0\r\nTrailer: x\r\n\r\nGARBAGE", 25, true},
      {"no trailer", "3\r\nabc\r\n0\r\n\r\nHTTP/1.1 200", 13, true},
      {"the final line end not there yet", "3\r\nabc\r\n0\r\n", 11, false},
      {"a trailer line without its LF", "3\r\nabc\r\n0\r\nT: x\rZ", 16, false},
  };
  for (const Case& c : cases) {
    for (size_t step : {1u, 4u, 100u}) {
      ChunkedDecoder decoder;
      size_t used = 0;
      EXPECT_EQ(Decode(c.input, step, decoder, &used), "abc") << c.what;
      EXPECT_TRUE(decoder.Finished()) << c.what;
      EXPECT_FALSE(decoder.Failed()) << c.what;
      EXPECT_EQ(decoder.MessageEnded(), c.ended) << c.what;
      EXPECT_EQ(used, c.used) << c.what << " in steps of " << step;
    }
  }
  // An endless trailer is not read to its end: the body stands, the message never ends.
  ChunkedDecoder decoder;
  EXPECT_EQ(Decode("1\r\nx\r\n0\r\nT: " + std::string(kMaxChunkLineBytes, 'y'), 64, decoder), "x");
  EXPECT_TRUE(decoder.Finished());
  EXPECT_FALSE(decoder.MessageEnded());
  EXPECT_FALSE(decoder.Failed());
}

// Chunk sizes are 64-bit: one chunk may pass 4 GiB.
TEST(ChunkedDecoder, SizesAtThe32And64BitBoundaries) {
  struct Case {
    const char* size_line;
    bool failed;
  } const cases[] = {
      {"7FFFFFFF\r\n", false}, {"80000000\r\n", false}, {"FFFFFFFF\r\n", false},
      {"100000000\r\n", false}, {"100000001\r\n", false}, {"7fffffffffffffff\r\n", false},
      {"8000000000000000\r\n", true}, {"FFFFFFFFFFFFFFFF\r\n", true}, {"10000000000000000\r\n", true},
  };
  for (const Case& c : cases) {
    ChunkedDecoder decoder;
    Decode(std::string(c.size_line) + "abc", 1, decoder);
    EXPECT_EQ(decoder.Failed(), c.failed) << c.size_line;
    EXPECT_FALSE(decoder.Finished()) << c.size_line;
  }
}

TEST(ChunkedDecoder, RejectsMalformedInput) {
  const char* const cases[] = {
      "\r\n",                 // no size
      "g\r\n",                // not hex
      "3\r\nabcX\r\n",        // data not followed by CR LF
      "3\rX",                 // CR not followed by LF
      "8000000000000000\r\n",  // above 2^63-1
      "-1\r\n",
  };
  for (const char* c : cases) {
    ChunkedDecoder decoder;
    Decode(c, 1, decoder);
    EXPECT_TRUE(decoder.Failed()) << c;
    EXPECT_FALSE(decoder.Finished()) << c;
  }
  ChunkedDecoder decoder;
  Decode("1;" + std::string(kMaxChunkLineBytes, 'x'), 100, decoder);
  EXPECT_TRUE(decoder.Failed());
  ChunkedDecoder unfinished;
  Decode("5\r\nhel", 2, unfinished);
  EXPECT_FALSE(unfinished.Failed());
  EXPECT_FALSE(unfinished.Finished());
}

TEST(NumberedName, CountsUpPastExistingFiles) {
  nettest::TempFolder folder;
  const std::string base = folder.Path("a.dat");
  nettest::WriteText(base, "x");
  EXPECT_EQ(NumberedFreeName(base, "a.dat"), folder.Path("a(1).dat"));
  nettest::WriteText(folder.Path("a(1).dat"), "x");
  nettest::WriteText(folder.Path("a(2).dat"), "x");
  EXPECT_EQ(NumberedFreeName(base, "a.dat"), folder.Path("a(3).dat"));
  // Pieces after the second "." are dropped; a name without "." gets "(1).".
  EXPECT_EQ(NumberedFreeName(folder.Path("b.tar.gz"), "b.tar.gz"), folder.Path("b(1).tar"));
  const std::string no_dot = "no_dot_name";
  EXPECT_EQ(NumberedFreeName(no_dot, no_dot), "no_dot_name(1).");
}

TEST(DownloadResult, NamesAndNumbers) {
  struct Case {
    DownloadResult result;
    int32_t number;
    const char* name;
  } const cases[] = {
      {DownloadResult::Ok, 0, "Ok"},
      {DownloadResult::SocketFailed, 1, "SocketFailed"},
      {DownloadResult::BindFailed, 2, "BindFailed"},
      {DownloadResult::ConnectFailed, 3, "ConnectFailed"},
      {DownloadResult::SendFailed, 4, "SendFailed"},
      {DownloadResult::SizeMismatch, 5, "SizeMismatch"},
      {DownloadResult::BadStatus, 6, "BadStatus"},
      {DownloadResult::InstallFailed, 7, "InstallFailed"},
      {DownloadResult::Interrupted, 8, "Interrupted"},
      {DownloadResult::WriteFailed, 9, "WriteFailed"},
      {DownloadResult::ServerError, 10, "ServerError"},
      {DownloadResult::ProxyAuthRequired, 11, "ProxyAuthRequired"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<int32_t>(c.result), c.number);
    EXPECT_STREQ(ToString(c.result), c.name);
  }
  EXPECT_STREQ(ToString(static_cast<DownloadResult>(12)), "Unknown");
}

TEST(StallWatch, ATrickleStallsAMovingTransferDoesNot) {
  using net::kStallMinBytes;
  using net::kStallWindowMs;
  struct Step {
    int64_t bytes;
    uint32_t at_ms;  // after the start
    bool stalled;
  };
  struct Case {
    const char* what;
    uint32_t start;
    std::vector<Step> steps;
  } const cases[] = {
      {"one byte every 5 s stalls when the window runs out", 1000,
       {{1, 5000, false}, {1, 10000, false}, {1, 25000, false}, {1, kStallWindowMs, true}}},
      {"just under the minimum in one window stalls", 0,
       {{kStallMinBytes - 1, 100, false}, {0, kStallWindowMs + 1, true}}},
      {"the minimum per window keeps going, window after window", 0,
       {{kStallMinBytes, 100, false},
        {0, kStallWindowMs, false},
        {kStallMinBytes, kStallWindowMs + 10, false},
        {0, 2 * kStallWindowMs, false},
        {1, 3 * kStallWindowMs, true}}},
      {"a tick count that wraps", 0xFFFFF000u,
       {{10, 0x800, false}, {10, kStallWindowMs, true}}},
  };
  for (const Case& c : cases) {
    net::StallWatch watch(c.start);
    for (const Step& step : c.steps) {
      EXPECT_EQ(watch.Stalled(step.bytes, c.start + step.at_ms), step.stalled) << c.what << " at " << step.at_ms;
    }
  }
}

TEST(StallWatch, TheFloorRateAveragesOverItsWindowAfterTheFirstOne) {
  const int64_t per_window = kFloorBytesPerSecond * kFloorWindowMs / 1000;
  struct Step {
    int64_t bytes;
    uint32_t at_ms;
    bool below;
  };
  struct Case {
    const char* what;
    uint32_t start;
    std::vector<Step> steps;
  } const cases[] = {
      {"not checked before the first window has passed", 0, {{0, 1000, false}, {0, kFloorWindowMs - 1, false}}},
      {"just under the average", 0, {{per_window - 1, 100, false}, {0, kFloorWindowMs, true}}},
      {"the average, window after window", 0,
       {{per_window, 100, false}, {0, kFloorWindowMs, false}, {per_window, 2 * kFloorWindowMs, false},
        {per_window - 1, 3 * kFloorWindowMs, true}}},
      {"a tick count that wraps", 0xFFFFF000u, {{per_window - 1, 0x2000, false}, {0, kFloorWindowMs, true}}},
  };
  for (const Case& c : cases) {
    StallWatch watch = StallWatch::Floor(c.start);
    for (const Step& step : c.steps) {
      EXPECT_EQ(watch.Stalled(step.bytes, c.start + step.at_ms), step.below) << c.what << " at " << step.at_ms;
    }
  }
  // What the window held is kept for the log.
  StallWatch watch(0, 1000, 500);
  EXPECT_TRUE(watch.Stalled(499, 1200));
  EXPECT_EQ(watch.StalledBytes(), 499);
  EXPECT_EQ(watch.StalledMs(), 1200u);
  // A window of 0 switches a rule off.
  StallWatch off(0, 0, 1000);
  EXPECT_FALSE(off.Stalled(0, 0xFFFFFFFFu));
}

TEST(DownloadReport, TheLogLineNamesResultReasonAndConnection) {
  DownloadReport reset(DownloadResult::Interrupted);
  reset.reason = FailReason::kReset;
  reset.received = 4294967297;
  reset.connection_id = 3;
  reset.reused = true;
  DownloadReport stalled(DownloadResult::Interrupted);
  stalled.reason = FailReason::kStalled;
  stalled.window_bytes = 300;
  stalled.wait_ms = 30000;
  DownloadReport floor(DownloadResult::Interrupted);
  floor.reason = FailReason::kBelowFloorRate;
  floor.window_bytes = 10000;
  floor.wait_ms = 60500;
  DownloadReport write(DownloadResult::WriteFailed);
  write.reason = FailReason::kCannotWrite;
  write.system_error = 5;
  DownloadReport sized(DownloadResult::BadStatus);
  sized.reason = FailReason::kSizeDiffers;
  sized.stated_size = 5000;
  sized.expected_size = 4096;
  DownloadReport ok;
  ok.connection_id = 1;
  DownloadReport proxied(DownloadResult::ConnectFailed);
  proxied.reason = FailReason::kRefused;
  proxied.proxy_issue = ProxyIssue::kAutoConfigScript;
  const struct {
    const DownloadReport& report;
    const char* line;
  } cases[] = {
      {reset, "Interrupted (8): reset after 4294967297 bytes; connection 3, reused"},
      {stalled, "Interrupted (8): stalled (300 bytes in 30 s)"},
      {floor, "Interrupted (8): below the floor rate (10000 bytes in 60.5 s)"},
      {write, "WriteFailed (9): cannot write (system error 5)"},
      {sized, "BadStatus (6): size 5000, expected 4096"},
      {ok, "Ok (0); connection 1, new"},
      {proxied, "ConnectFailed (3): connection refused; proxy not followed: automatic configuration script"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToString(c.report), c.line);
}

}  // namespace

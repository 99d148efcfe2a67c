// Whole-body fetch through WinINet, with bounded connect and receive
// time-outs so that a dead server cannot hold the window thread for long.
#include "runtime/win32/win.h"
#include <wininet.h>

#include "runtime/fetch.h"
#include "runtime/fetch_url.h"

namespace rt {
namespace {

constexpr DWORD kChunkWithoutLength = 10240;
constexpr DWORD kMaxChunk = 102400;

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h) : h_(h) {}
  ~InternetHandle() {
    if (h_) InternetCloseHandle(h_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return h_; }

 private:
  HINTERNET h_;
};

void SetTimeouts(HINTERNET h) {
  DWORD connect = kFetchConnectTimeoutMs, receive = kFetchReceiveTimeoutMs;
  InternetSetOptionA(h, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  InternetSetOptionA(h, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
  InternetSetOptionA(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
  InternetSetOptionA(h, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

}  // namespace

Bytes FetchUrl(const Text& url) {
  UrlParts parts;
  if (!ParseFetchUrl(url, &parts)) return Bytes();
  InternetHandle session(InternetOpenA("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
                                       INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session.get()) return Bytes();
  SetTimeouts(session.get());
  InternetHandle connection(InternetConnectA(session.get(), parts.host.c_str(), parts.port, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection.get()) return Bytes();
  const char* accept[] = {"Accept: */* \r\n", nullptr};
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
  if (parts.secure) flags |= INTERNET_FLAG_SECURE;
  InternetHandle request(
      HttpOpenRequestA(connection.get(), "GET", parts.path.c_str(), "HTTP/1.0", nullptr, accept, flags, 0));
  if (!request.get()) return Bytes();
  static const char kHeaders[] = "Accept: */*\r\n\r\n";
  if (!HttpSendRequestA(request.get(), kHeaders, sizeof kHeaders - 1, nullptr, 0)) return Bytes();

  DWORD length = 0, size = sizeof length, index = 0;
  DWORD chunk = kChunkWithoutLength;
  if (HttpQueryInfoA(request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, &index))
    chunk = length < kMaxChunk ? length + 1 : kMaxChunk;
  Bytes body;
  Bytes buffer(chunk);
  for (;;) {
    DWORD n = 0;
    if (!InternetReadFile(request.get(), buffer.data(), chunk, &n)) break;  // keep what arrived
    if (n == 0) break;
    body.insert(body.end(), buffer.begin(), buffer.begin() + n);
  }
  return body;
}

}  // namespace rt

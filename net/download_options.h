#pragma once
// DownloadOptions: what one engine call asks for and how: the resource's URL,
// the route (the user's proxy setting or a given proxy), the limits, the
// connection to use, the caller's clock, cancel flag and byte counter, and
// the resource's expected size. Where the body goes is the caller's sink.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "net/download_url.h"
#include "net/http_connection.h"
#include "net/proxy_route.h"
#include "net/transfer_limits.h"
#include "runtime/types.h"

namespace net {

// Body bytes collected in memory before a write, when they arrive in small
// pieces (0 or less: this); larger pieces are written straight from the
// connection's read-ahead buffer, a whole read-ahead (kReadAheadSize) at most.
constexpr int32_t kDefaultFlushSize = 16384;

// How a download reaches the server. By default the user's proxy setting
// decides for the call (ClassifyProxy): through the HTTP proxy it names for
// the URL's host, if any, the whole URL then in the request line; a setting
// the engine cannot follow goes direct and says so in the report. The
// setting is read by the call, or once by a caller that gives it to all its
// calls (Setting). A proxy that answers 407 gives ProxyAuthRequired.
struct ProxyUse {
  bool from_user_setting = true;
  std::optional<rt::ProxySettings> setting;  // the user's setting as read; none: read by the call
  std::optional<ProxyRoute> route;           // when not from the setting: this proxy, or none (direct)

  static ProxyUse UserSetting() { return ProxyUse(); }
  static ProxyUse Setting(rt::ProxySettings setting) { return ProxyUse{true, std::move(setting), std::nullopt}; }
  static ProxyUse Given(std::optional<ProxyRoute> route) { return ProxyUse{false, std::nullopt, std::move(route)}; }
};

// Wrapping milliseconds; the stall and floor watches measure with it.
using TickSource = std::function<uint32_t()>;

// One download. The URL is taken as pieces: split from its text by the
// first constructor, or built once by a caller that knows its site (see
// UrlBelow) and handed over as it is.
struct DownloadOptions {
  explicit DownloadOptions(const rt::Text& url_text) : url(SplitDownloadUrl(url_text)) {}
  explicit DownloadOptions(DownloadUrl url) : url(std::move(url)) {}

  DownloadUrl url;                         // "http://" host [":" port] "/" path, escaped
  int32_t flush_size = kDefaultFlushSize;  // small pieces collected before a write (0: default)
  bool headers_only = false;               // stop after the headers, the total size stored
  rt::Text cookie;                         // sent as a "Cookie: " header when not empty
  ProxyUse proxy;
  TransferLimits limits;                   // receive wait, stall rule, floor rate
  // The resource's whole size when the caller knows it (a signed list gives
  // sizes), -1 otherwise. An answer stating another size is refused before
  // anything is written, a body that runs past it is dropped, and a kept
  // part longer than it is dropped before the request.
  int64_t expected_size = -1;
  // The last byte wanted, for a span of the resource after the sink's kept
  // bytes ("Range: bytes=kept-last"); -1: on to the resource's end. Only a
  // 206 answer with exactly that span is taken.
  int64_t range_last = -1;
  // A connection kept across calls (see HttpConnection); null: a connection
  // of the call's own, closed when it ends.
  HttpConnection* connection = nullptr;
  // Set by another thread to end the call soon: looked at before the
  // request and between receives (each receive then waits in pieces of
  // kCancelPollMs). A cancelled call reports Interrupted (kCancelled) and
  // its sink keeps what arrived, as after a cut. None when null.
  const std::atomic<bool>* cancel = nullptr;
  // Every body byte this call receives is added here as it arrives (the
  // part a resume keeps is not: it arrived in an earlier call). Several
  // calls at once may add to one counter. None when null.
  std::atomic<int64_t>* received_counter = nullptr;
  // The clock of the stall and floor watches; empty: the system's tick count.
  TickSource ticks;
};

}  // namespace net

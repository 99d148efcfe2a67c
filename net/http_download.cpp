#include "net/http_download.h"

#include <optional>

#include "net/http_request.h"
#include "net/transfer.h"
#include "runtime/convert.h"
#include "runtime/process.h"
#include "runtime/proxy_settings.h"

namespace net {
namespace {

// Rounds of one call: one more on a new connection when a reused one gave no
// answer (or, to a request sent ahead, an answer that was not its own), and
// one more from byte 0 when a stale partial file was dropped.
constexpr int kMaxRounds = 3;
// Where the call connects: the origin server, or the HTTP proxy in between.
struct Route {
  rt::Text host;
  uint16_t port = 0;
  bool via_proxy = false;
};

// The route is chosen for every call from the user's proxy setting (as the
// caller read it, or read here); a setting that cannot be followed goes
// direct and says why in the report.
Route ChooseRoute(const DownloadOptions& options, DownloadReport* report) {
  const DownloadUrl& url = options.url;
  std::optional<ProxyRoute> proxy = options.proxy.route;
  if (options.proxy.from_user_setting) {
    const rt::ProxySettings setting =
        options.proxy.setting ? *options.proxy.setting : rt::ReadUserProxySettings();
    const ProxyDecision decision = ClassifyProxy(setting, url.host, url.port);
    proxy = decision.route;
    report->proxy_issue = decision.issue;
  }
  if (proxy) return Route{proxy->host, proxy->port, true};
  return Route{url.host, url.port, false};
}

// The connection one call uses: the caller's, or one of the call's own. A
// connection the call did not end with a kept response is closed.
class Link {
 public:
  explicit Link(HttpConnection& connection) : connection_(connection) {}
  ~Link() {
    if (!finished_) connection_.Close();
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  TcpSocket& Socket() { return connection_.Socket(); }
  bool Reused() const { return reused_; }

  HttpConnection& Connection() { return connection_; }

  // A fresh request goes over a kept connection to the same place when it is
  // still quiet; anything else gets a new connection.
  DownloadResult Open(const Route& route, bool fresh_form, DownloadReport* report) {
    reused_ = fresh_form && connection_.CanCarry(route.host, route.port);
    if (reused_) return DownloadResult::Ok;
    connection_.Close();
    const DownloadResult result = OpenConnection(Socket(), route.host, route.port, report);
    if (result == DownloadResult::Ok) connection_.Connected(route.host, route.port, route.via_proxy);
    return result;
  }
  // The request was sent ahead on this connection: its answer is next.
  bool TakeAhead(const rt::Text& request) {
    reused_ = connection_.TakeAhead(request);
    return reused_;
  }
  void Drop() {
    connection_.Close();
    reused_ = false;
  }
  void Finish(bool keep) {
    connection_.Carried(keep);
    finished_ = true;
  }

 private:
  HttpConnection& connection_;
  bool reused_ = false;
  bool finished_ = false;
};

rt::Text RequestText(const DownloadOptions& options, bool via_proxy, int64_t range_start) {
  RequestFields fields;
  fields.path = options.url.path;
  if (via_proxy) fields.origin = "http://" + options.url.host_field;
  fields.host_field = options.url.host_field;
  fields.range_start = range_start >= 0 ? range_start : 0;
  fields.range_last = range_start >= 0 ? options.range_last : -1;
  fields.cookie = options.cookie;
  return BuildRequest(range_start >= 0 ? RequestForm::kResume : RequestForm::kFresh, fields);
}

// An answer to a request sent ahead that cannot be that request's: its size
// or range is not what was asked for.
bool NotItsAnswer(const DownloadReport& report) {
  return report.reason == FailReason::kSizeDiffers || report.reason == FailReason::kBadContentRange;
}

}  // namespace

DownloadReport HttpGet(const DownloadOptions& options, BodySink& sink, std::atomic<int64_t>& totalBytes,
                       std::atomic<int64_t>& doneBytes) {
  DownloadReport report;
  report.expected_size = options.expected_size;
  if (options.connection != nullptr) report.connection_id = options.connection->Id();
  const Route route = ChooseRoute(options, &report);
  const TickSource ticks = options.ticks ? options.ticks : TickSource(rt::TickCount);

  const SinkResult prepared = sink.Prepare(options.expected_size);
  if (!prepared.ok()) {
    report.result = DownloadResult::WriteFailed;
    report.reason = prepared.reason;
    return report;
  }

  // Without a caller's connection the call connects for itself and closes
  // its connection when it ends.
  HttpConnection own_connection(0);
  Link link(options.connection != nullptr ? *options.connection : own_connection);
  bool may_retry_fresh = true;
  bool may_restart = true;
  for (int round = 0; round < kMaxRounds; ++round) {
    if (options.cancel != nullptr && options.cancel->load()) {
      report.result = DownloadResult::Interrupted;
      report.reason = FailReason::kCancelled;
      return report;
    }
    const int64_t range_start = sink.Kept();
    report.resumed = range_start >= 0;
    report.resumed_from = range_start >= 0 ? range_start : 0;
    const rt::Text request = RequestText(options, route.via_proxy, range_start);
    const bool ahead = range_start < 0 && link.TakeAhead(request);
    if (!ahead) {
      const DownloadResult opened = link.Open(route, range_start < 0, &report);
      if (opened != DownloadResult::Ok) {
        report.result = opened;
        return report;
      }
    }
    report.reused = link.Reused();
    report.sent_ahead = ahead;
    const bool retry_allowed = link.Reused() && may_retry_fresh;
    if (!ahead && !link.Socket().Send(rt::ToBytes(request))) {
      if (retry_allowed) {
        may_retry_fresh = false;
        link.Drop();
        continue;
      }
      report.result = DownloadResult::SendFailed;
      report.reason = FailReason::kSendFailed;
      report.system_error = TcpSocket::LastError();
      return report;
    }
    Transfer transfer(TransferSetup{link.Socket(), sink, options, ticks, route.via_proxy, retry_allowed, may_restart,
                                    range_start, totalBytes, doneBytes, report});
    TransferEnd end = transfer.Run();
    HttpConnection& connection = link.Connection();
    if (ahead && end == TransferEnd::kRetryFresh) connection.ClosedWithAhead();
    if (ahead && end == TransferEnd::kDone && retry_allowed && NotItsAnswer(report)) {
      connection.NoteTrouble("an answer did not match its request (" + rt::Text(ToString(report.reason)) + ")");
      end = TransferEnd::kRetryFresh;
    }
    switch (end) {
      case TransferEnd::kRetryFresh:
        may_retry_fresh = false;
        link.Drop();
        continue;
      case TransferEnd::kRestartFromZero:
        may_restart = false;
        link.Drop();
        continue;
      case TransferEnd::kDone:
        break;
    }
    if (ahead) connection.AnsweredOneAhead();
    const bool keep = transfer.KeepsConnection(connection.Ahead() > 0);
    if (keep) link.Socket().Unread(transfer.ExtraBytes());
    link.Finish(keep);
    return report;
  }
  // Not reached: the last round's transfer may neither retry nor restart.
  report.result = DownloadResult::Interrupted;
  return report;
}

bool SendAhead(const DownloadOptions& options) {
  if (options.connection == nullptr) return false;
  DownloadReport unused;
  const Route route = ChooseRoute(options, &unused);
  HttpConnection& connection = *options.connection;
  if (route.via_proxy || !connection.MaySendAhead(route.host, route.port)) return false;
  const rt::Text request = RequestText(options, false, -1);
  if (!connection.Socket().Send(rt::ToBytes(request))) {
    connection.Close();
    return false;
  }
  connection.SentAhead(request);
  return true;
}

}  // namespace net

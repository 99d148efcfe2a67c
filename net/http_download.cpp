#include "net/http_download.h"

#include <optional>

#include "net/download_target.h"
#include "net/http_request.h"
#include "net/numbered_name.h"
#include "net/transfer.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/proxy_settings.h"

namespace net {
namespace {

// Rounds of one call: one more on a new connection when a reused one gave no
// answer, and one more from byte 0 when a stale partial file was dropped.
constexpr int kMaxRounds = 3;

// Where the call connects: the origin server, or the HTTP proxy in between.
struct Route {
  rt::Text host;
  uint16_t port = 0;
  bool via_proxy = false;
};

// The route is chosen afresh for every file from the user's proxy setting
// (read on every call, so nothing is shared between threads); a setting
// that cannot be followed goes direct and says why in the report.
Route ChooseRoute(const DownloadOptions& options, DownloadReport* report) {
  const DownloadUrl& url = options.url;
  std::optional<ProxyRoute> proxy = options.proxy.route;
  if (options.proxy.from_user_setting) {
    const ProxyDecision decision = ClassifyProxy(rt::ReadUserProxySettings(), url.host, url.port);
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

  // A fresh request goes over a kept connection to the same place when it is
  // still quiet; anything else gets a new connection.
  DownloadResult Open(const Route& route, bool fresh_form, DownloadReport* report) {
    reused_ = fresh_form && connection_.CanCarry(route.host, route.port);
    if (reused_) return DownloadResult::Ok;
    connection_.Close();
    const DownloadResult result = OpenConnection(Socket(), route.host, route.port, report);
    if (result == DownloadResult::Ok) connection_.Connected(route.host, route.port);
    return result;
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

// Before the first request: a partial file longer than the expected size
// cannot be a prefix of the resource and goes; the observer starts over and
// is shown the bytes a resume keeps. False (the report filled) when a
// partial file that cannot be read back cannot be dropped either.
bool PreparePartial(DownloadTarget& target, const DownloadOptions& options, BodyObserver* observer,
                    DownloadReport* report) {
  int64_t kept = target.ResumableSize();
  if (options.expected_size >= 0 && kept > options.expected_size && target.DropPartial()) kept = -1;
  if (observer == nullptr) return true;
  observer->Restart();
  if (kept <= 0 || target.FeedPartial(*observer, kept)) return true;
  // Its bytes cannot be read back: the file is fetched from byte 0.
  observer->Restart();
  if (target.DropPartial()) return true;
  report->result = DownloadResult::WriteFailed;
  report->reason = FailReason::kCannotOpen;
  return false;
}

bool SendRequest(TcpSocket& socket, const DownloadOptions& options, bool via_proxy, int64_t range_start) {
  RequestFields fields;
  fields.path = options.url.path;
  if (via_proxy) fields.origin = "http://" + options.url.host_field;
  fields.host_field = options.url.host_field;
  fields.range_start = range_start >= 0 ? range_start : 0;
  fields.cookie = options.cookie;
  const rt::Text request = BuildRequest(range_start >= 0 ? RequestForm::kResume : RequestForm::kFresh, fields);
  return socket.Send(rt::ToBytes(request));
}

}  // namespace

DownloadReport HttpDownloadReport(const DownloadOptions& options, std::atomic<int64_t>& totalBytes,
                                  std::atomic<int64_t>& doneBytes) {
  DownloadReport report;
  report.expected_size = options.expected_size;
  if (options.connection != nullptr) report.connection_id = options.connection->Id();
  const Route route = ChooseRoute(options, &report);

  rt::Text save_path = options.save_path;
  if (options.rename_if_exists && !save_path.empty() && rt::FileExists(save_path)) {
    save_path = NumberedFreeName(save_path, options.url.file_name);
  }
  DownloadTarget target =
      save_path.empty() ? DownloadTarget::Memory(options.body) : DownloadTarget::File(save_path);
  BodyObserver* const observer = options.headers_only ? nullptr : options.observer;
  if (!PreparePartial(target, options, observer, &report)) return report;

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
    // The memory target never resumes (ResumableSize is -1).
    const int64_t range_start = target.ResumableSize();
    report.resumed = range_start >= 0;
    report.resumed_from = range_start >= 0 ? range_start : 0;
    const DownloadResult opened = link.Open(route, range_start < 0, &report);
    if (opened != DownloadResult::Ok) {
      report.result = opened;
      return report;
    }
    report.reused = link.Reused();
    const bool retry_allowed = link.Reused() && may_retry_fresh;
    if (!SendRequest(link.Socket(), options, route.via_proxy, range_start)) {
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
    Transfer transfer(TransferSetup{link.Socket(), target, options, observer, route.via_proxy, retry_allowed,
                                    may_restart, range_start, totalBytes, doneBytes, report});
    switch (transfer.Run()) {
      case TransferEnd::kRetryFresh:
        may_retry_fresh = false;
        link.Drop();
        continue;
      case TransferEnd::kRestartFromZero:
        may_restart = false;
        link.Drop();
        if (observer != nullptr) observer->Restart();
        continue;
      case TransferEnd::kDone:
        break;
    }
    link.Finish(transfer.KeepsConnection());
    return report;
  }
  // Not reached: the last round's transfer may neither retry nor restart.
  report.result = DownloadResult::Interrupted;
  return report;
}

DownloadResult HttpDownload(const DownloadOptions& options, std::atomic<int64_t>& totalBytes,
                            std::atomic<int64_t>& doneBytes) {
  return HttpDownloadReport(options, totalBytes, doneBytes).result;
}

}  // namespace net

#include "app/run/file_tries.h"

#include "app/disk_full.h"
#include "app/run/file_chain.h"
#include "app/run/file_form.h"
#include "app/run/free_space.h"
#include "app/run/install_step.h"
#include "app/retry.h"
#include "app/update_log.h"
#include "net/download_options.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace app {
namespace {

// A try that reached no server: the connection failed or broke before any
// answer head. Only such a failure can be the proxy's doing; an HTTP answer
// (a 404 too) came over a route that works.
bool ConnectionFailed(const net::DownloadReport& report) {
  if (report.ok() || report.http_status != 0) return false;
  switch (report.reason) {
    case net::FailReason::kHostNotFound:
    case net::FailReason::kRefused:
    case net::FailReason::kConnectTimedOut:
    case net::FailReason::kConnectFailed:
    case net::FailReason::kSendFailed:
    case net::FailReason::kNoAnswer:
    case net::FailReason::kClosed:
    case net::FailReason::kReset:
    case net::FailReason::kReceiveFailed:
      return true;
    default:
      return false;
  }
}

// One file's tries: its form, its chain and what its tries found.
// How often a transfer looks again at a mirror that takes no more
// connections for now.
constexpr int32_t kGateWaitMs = 20;

class FileTries {
 public:
  FileTries(RunContext& run, size_t index, MirrorConnections& connections)
      : run_(run),
        flow_(run.flow),
        index_(index),
        entry_(run.files[index].entry),
        record_(run.plan.File(index)),
        connections_(connections),
        local_path_(flow_.state.Client.Path(entry_.path)),
        form_(ChooseForm(entry_)),
        chain_(local_path_, entry_) {}

  FileEnd Run();

 private:
  struct Try {
    net::DownloadReport report;
    TryOutcome outcome = TryOutcome::kMirrorRefused;
  };
  Try TryOn(size_t mirror);
  FileEnd Install();
  bool PartialLeft() const { return chain_.PartialLeft(); }
  rt::Text Where() const {
    return entry_.path + " (" + rt::ToText(static_cast<int64_t>(index_ + 1)) + "/" +
           rt::ToText(static_cast<int64_t>(run_.files.size())) + ")";
  }
  void WaitBeforeRetry(const NextTry& next, const net::DownloadReport& last);
  rt::Text WriteFailureText(const net::DownloadReport& report);
  bool DropPartial(size_t mirror);
  bool EnterGate(ConnectionGate& gate, size_t mirror, int32_t* open);

  RunContext& run_;
  Flow& flow_;
  const size_t index_;
  const PatchEntry& entry_;
  FileRecord& record_;
  MirrorConnections& connections_;
  const rt::Text local_path_;
  const FileForm form_;
  FileChain chain_;
  bool proxy_not_followed_ = false;  // a try failed to connect where the proxy setting was not followed
};

FileTries::Try FileTries::TryOn(size_t mirror) {
  record_.total.store(0);
  record_.done.store(0);
  record_.try_number.fetch_add(1);

  net::DownloadOptions options(flow_.state.Site.FileTarget(run_.mirrors[mirror], form_.resource));
  options.limits = flow_.run.limits;
  options.proxy = run_.proxy;
  options.expected_size = form_.ExpectedSize();
  options.connection = connections_[mirror].get();
  options.cancel = &run_.stop;
  options.received_counter = &run_.received;
  options.ticks = flow_.services.tick_count;

  ConnectionGate& gate = *run_.gates[mirror];
  int32_t open = 0;
  Try t;
  if (!EnterGate(gate, mirror, &open)) {
    t.report.reason = net::FailReason::kCancelled;
    t.outcome = TryOutcome::kCancelled;
    return t;
  }
  const uint32_t started = flow_.services.tick_count();
  t.report = flow_.services.download(options, chain_.Head(), record_.total, record_.done);
  const ServerSign sign = SignOf(t.report);
  const int32_t allowed = gate.Leave(sign);
  if (allowed > 0) {
    run_.log.Line(flow_.state.Site.MirrorText(run_.mirrors[mirror]) + ": " + rt::ToText(allowed) +
                  (sign == ServerSign::kTurnedAway ? " connections at most from now on (the server turned one away)"
                                                   : " connections at once"));
  }
  TryLine line;
  line.path = entry_.path;
  line.mirror = flow_.state.Site.MirrorText(run_.mirrors[mirror]);
  line.report = t.report;
  line.ms = flow_.services.tick_count() - started;
  line.has_digest = entry_.digest.has_value();
  if (t.report.ok()) line.verdict = chain_.Verdict();
  if (t.report.proxy_issue != net::ProxyIssue::kNone && ConnectionFailed(t.report)) proxy_not_followed_ = true;
  // The kept part counts only when the server went on from it.
  const bool resumed_bytes_used =
      t.report.resumed && (t.report.http_status == 206 || t.report.http_status == 416);
  t.outcome = ClassifyTry(t.report, line.verdict && line.verdict->ok, resumed_bytes_used);
  if (t.outcome == TryOutcome::kTransient && sign == ServerSign::kTurnedAway && open < gate.Most()) {
    t.outcome = TryOutcome::kTurnedAway;
  }
  run_.log.Line(FormatTryLine(line));
  // A file that did not verify is never installed: its bytes go.
  if (line.verdict && !line.verdict->ok) chain_.Drop();
  return t;
}

FileEnd FileTries::Install() {
  const InstallResult installed =
      InstallFile(entry_.path, chain_.PartialPath(), local_path_, flow_.services.probe_replaceable);
  if (!installed.ok) {
    run_.Fail(installed.text, installed.log_line);
    return FileEnd::kFailed;
  }
  run_.log.Line(FormatInstalledLine(entry_.path, rt::FileSize64(local_path_)));
  run_.RecordInstalled(entry_, local_path_);
  run_.plan.Installed(index_);
  return FileEnd::kInstalled;
}

void FileTries::WaitBeforeRetry(const NextTry& next, const net::DownloadReport& last) {
  if (next.retry == 0) {
    run_.log.Line("ask again for " + entry_.path + " in " + Seconds(static_cast<uint32_t>(next.wait_ms)) +
                  ": the server turned the connection away (no try used)");
    flow_.services.delay(next.wait_ms);
    return;
  }
  run_.log.Line("retry " + rt::ToText(next.retry) + "/" + rt::ToText(kMoreTries) + " of " + entry_.path + " in " +
                Seconds(static_cast<uint32_t>(next.wait_ms)) + " after " +
                rt::ToText(static_cast<int32_t>(last.result)) + " (" + net::ToString(last.result) + ")");
  record_.retry_wait.store(next.retry);
  flow_.services.delay(next.wait_ms);
  record_.retry_wait.store(0);
}

// A full disk names the room the files not in yet still need, when the list
// gives their sizes; any other failed write is the run's failure.
rt::Text FileTries::WriteFailureText(const net::DownloadReport& report) {
  if (report.reason != net::FailReason::kDiskFull) return kTextDownloadFailed;
  const ClientFolder& client = flow_.state.Client;
  const auto rooms = RoomOfEntries(run_.files, client, [this](size_t i) {
    return run_.plan.File(i).state.load() != FileState::kInstalled;
  });
  const int64_t free =
      flow_.services.free_disk_space ? flow_.services.free_disk_space(client.Folder()) : -1;
  return DiskFullText(rooms && free >= 0 ? LeastRoomNeeded(*rooms) - free : 0);
}

// Waits until the mirror takes one more connection; false when the run
// stops first. A transfer that waits closes its kept connection to the
// mirror: a server that counts connections per address counts idle ones.
bool FileTries::EnterGate(ConnectionGate& gate, size_t mirror, int32_t* open) {
  bool closed = false;
  // Bounded: another transfer's try ends and leaves, or the run stops.
  while (!gate.TryEnter(open)) {
    if (run_.stop.load()) return false;
    if (!closed) connections_[mirror]->Close();
    closed = true;
    flow_.services.delay(kGateWaitMs);
  }
  return true;
}

// A partial file written by another mirror is not resumed here.
bool FileTries::DropPartial(size_t mirror) {
  if (!PartialLeft()) return true;
  if (chain_.Drop()) {
    run_.log.Line("partial file of " + entry_.path + " dropped: not resumed on " +
                  flow_.state.Site.MirrorText(run_.mirrors[mirror]));
    return true;
  }
  run_.Fail(rt::FormatText(kTextFileNotWritable, PartialPathOf(entry_.path).c_str()),
            "run failed at " + Where() + ": its partial file cannot be deleted");
  return false;
}

FileEnd FileTries::Run() {
  rt::CreateFolderTree(rt::ParentFolderOf(local_path_));
  MirrorTries tries(run_.mirrors.size(), PartialLeft());
  NextTry next = tries.First();
  net::DownloadReport last;
  // Bounded: MirrorTries gives up after a bounded number of tries.
  while (next.kind != NextTry::Kind::kGiveUp) {
    if (next.kind == NextTry::Kind::kWaitThenTry) WaitBeforeRetry(next, last);
    if (run_.stop.load()) return FileEnd::kStopped;
    if (next.drop_partial && !DropPartial(next.mirror)) return FileEnd::kFailed;
    const Try t = TryOn(next.mirror);
    last = t.report;
    switch (t.outcome) {
      case TryOutcome::kVerified:
        return Install();
      case TryOutcome::kCancelled:
        return FileEnd::kStopped;
      case TryOutcome::kRunEnds:
        run_.Fail(WriteFailureText(t.report), "run failed at " + Where() + ": " + net::Describe(t.report));
        return FileEnd::kFailed;
      default:
        break;
    }
    const size_t tried = next.mirror;
    next = tries.After(t.outcome, PartialLeft());
    if (next.kind != NextTry::Kind::kTry) continue;
    run_.log.Line(next.mirror != tried ? "next mirror for " + entry_.path + ": " + flow_.state.Site.MirrorText(run_.mirrors[next.mirror])
                                       : "retry " + entry_.path + " from byte 0: the resumed file did not verify");
  }
  if (proxy_not_followed_) {
    run_.Fail(kTextProxyUnsupported, "run failed at " + Where() +
                                         ": no mirror gave it, and the proxy setting could not be followed");
  } else {
    run_.Fail(kTextDownloadFailed, "run failed at " + Where() + ": no mirror gave it");
  }
  return FileEnd::kFailed;
}

}  // namespace

FileEnd BringFile(RunContext& run, size_t index, MirrorConnections& connections) {
  FileTries tries(run, index, connections);
  return tries.Run();
}

}  // namespace app

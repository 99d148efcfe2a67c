#include "app/run/file_tries.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "app/disk_full.h"
#include "app/run/file_chain.h"
#include "app/run/file_form.h"
#include "app/run/form_apply.h"
#include "app/run/send_ahead.h"
#include "app/run/free_space.h"
#include "app/run/install_step.h"
#include "app/retry.h"
#include "app/update_log.h"
#include "net/download_options.h"
#include "net/partial_file.h"
#include "runtime/convert.h"
#include "runtime/lock.h"
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

const char* GateChangeText(GateChange::Why why) {
  switch (why) {
    case GateChange::Why::kTurnedAway: return " connections at most from now on (the server turned one away)";
    case GateChange::Why::kNoGain: return " connections at once from now on (more did not raise the rate)";
    default: return " connections at once";
  }
}

// How often a transfer looks again at a mirror that takes no more
// connections for now.
constexpr int32_t kGateWaitMs = 20;

// One file's tries: its forms, each fetched over the mirrors through a
// chain of its own, and what the tries found.
class FileTries {
 public:
  FileTries(RunContext& run, size_t index, MirrorConnections& connections)
      : run_(run),
        flow_(run.flow),
        index_(index),
        entry_(run.files[index].entry),
        record_(run.plan.File(index)),
        connections_(connections),
        local_path_(flow_.state.Client.Path(entry_.path)) {}

  FileEnd Run();

 private:
  struct Try {
    net::DownloadReport report;
    TryOutcome outcome = TryOutcome::kMirrorRefused;
  };
  // How a form's tries over the mirrors ended.
  enum class Fetched { kVerified, kGaveUp, kStopped, kRunFailed };

  Fetched FetchOverMirrors(const FileForm& form, FileChain& chain);
  Try TryOn(const FileForm& form, FileChain& chain, size_t mirror, bool other_mirror_left);
  net::DownloadOptions OptionsFor(const FileForm& form, size_t mirror);
  // A delta form that arrived whole but differs from what was published:
  // the bodies of the segments that make other bytes are fetched again
  // alone from the same mirror, and the form is judged whole again. False:
  // it goes whole (its header does not read, most of it is wrong, a part
  // did not come, or it still differs).
  bool MendForm(const FileForm& form, FileChain& chain, size_t mirror);
  // A form fetched whole: applied into the file's partial file and installed,
  // or dropped (kGaveUp: the next form follows).
  Fetched ApplyAndInstall(const FileForm& form, FileChain& chain, FileEnd* end);
  FileEnd Install(const rt::Text& partial_path);
  void DropForm(const FileForm& form, FileChain& chain, const rt::Text& why);
  rt::Text Where() const {
    return entry_.path + " (" + rt::ToText(static_cast<int64_t>(index_ + 1)) + "/" +
           rt::ToText(static_cast<int64_t>(run_.files.size())) + ")";
  }
  void WaitBeforeRetry(const NextTry& next, const net::DownloadReport& last);
  rt::Text WriteFailureText(net::FailReason reason);
  bool DropPartial(FileChain& chain, size_t mirror);
  bool EnterGate(ConnectionGate& gate, size_t mirror, int32_t* open);

  RunContext& run_;
  Flow& flow_;
  const size_t index_;
  const PatchEntry& entry_;
  FileRecord& record_;
  MirrorConnections& connections_;
  const rt::Text local_path_;
  bool proxy_not_followed_ = false;  // a try failed to connect where the proxy setting was not followed
};

FileTries::Try FileTries::TryOn(const FileForm& form, FileChain& chain, size_t mirror, bool other_mirror_left) {
  record_.total.store(0);
  record_.done.store(0);
  record_.try_number.fetch_add(1);

  const PatchSite& site = flow_.state.Site;
  const size_t at = run_.mirrors[mirror];
  net::DownloadOptions options = OptionsFor(form, mirror);
  options.floor_judges_run = !other_mirror_left;
  ConnectionGate& gate = *run_.gates[mirror];
  int32_t open = 0;
  Try t;
  if (!EnterGate(gate, mirror, &open)) {
    t.report.reason = net::FailReason::kCancelled;
    t.outcome = TryOutcome::kCancelled;
    return t;
  }
  const uint32_t started = flow_.services.tick_count();
  t.report = flow_.services.download(options, chain.Head(), record_.total, record_.done);
  const ServerSign sign = SignOf(t.report);
  const GateChange change = gate.Leave(sign);
  if (change.why != GateChange::Why::kNone) {
    run_.log.Line(site.MirrorText(at) + ": " + rt::ToText(change.allowed) + GateChangeText(change.why));
  }
  TryLine line;
  line.path = form.Whole() ? entry_.path : entry_.path + " (" + form.Describe() + ")";
  line.mirror = site.MirrorText(at);
  line.report = t.report;
  line.ms = flow_.services.tick_count() - started;
  line.has_digest = form.digest.has_value();
  line.form = !form.Whole();
  if (t.report.ok()) line.verdict = chain.Verdict();
  if (t.report.proxy_issue != net::ProxyIssue::kNone && ConnectionFailed(t.report)) proxy_not_followed_ = true;
  // The kept part counts only when the server went on from it.
  const bool resumed_bytes_used =
      t.report.resumed && (t.report.http_status == 206 || t.report.http_status == 416);
  t.outcome = ClassifyTry(t.report, line.verdict && line.verdict->ok, resumed_bytes_used);
  if (t.outcome == TryOutcome::kTransient && sign == ServerSign::kTurnedAway && open < gate.Most()) {
    t.outcome = TryOutcome::kTurnedAway;
  }
  // A transfer cut for its own slow rate is cut to try another mirror.
  if (t.outcome == TryOutcome::kAdvanced && t.report.reason == net::FailReason::kBelowFloorRate &&
      other_mirror_left) {
    t.outcome = TryOutcome::kTransient;
  }
  run_.log.Line(FormatTryLine(line));
  // Bytes that did not verify are never used: they go, unless the parts that
  // are wrong can be fetched again alone.
  if (line.verdict && !line.verdict->ok) {
    if (MendForm(form, chain, mirror)) {
      t.outcome = TryOutcome::kVerified;
      return t;
    }
    chain.Drop();
  }
  return t;
}

net::DownloadOptions FileTries::OptionsFor(const FileForm& form, size_t mirror) {
  return TryOptions(run_, form, mirror, connections_);
}

bool FileTries::MendForm(const FileForm& form, FileChain& chain, size_t mirror) {
  if (form.transform != FormTransform::kDelta || !form.digest) return false;
  std::vector<FormSpan> spans;
  {
    // Each segment is applied to find the wrong ones: one apply at a time.
    std::lock_guard<rt::Lock> one_at_a_time(run_.apply_lock);
    spans = SegmentsToFetchAgain(form, chain.PartialPath(), local_path_, run_.stop);
  }
  int64_t bytes = 0;
  for (const FormSpan& span : spans) bytes += span.bytes;
  // Most of it wrong: not a few damaged parts, but another file.
  if (spans.empty() || bytes > form.digest->size / 2) return false;
  run_.log.Line("form of " + entry_.path + ": " + rt::ToText(static_cast<int64_t>(spans.size())) +
                " of its segments make other bytes; their " + rt::ToText(bytes) + " bytes are fetched again alone");
  ConnectionGate& gate = *run_.gates[mirror];
  for (const FormSpan& span : spans) {
    net::SpanFile sink(chain.PartialPath(), span.offset, span.bytes);
    net::DownloadOptions options = OptionsFor(form, mirror);
    options.range_last = span.offset + span.bytes - 1;
    int32_t open = 0;
    if (!EnterGate(gate, mirror, &open)) return false;
    const net::DownloadReport report = flow_.services.download(options, sink, record_.total, record_.done);
    static_cast<void>(gate.Leave(SignOf(report)));
    if (!report.ok() || sink.Written() != span.bytes) {
      run_.log.Line("segment " + rt::ToText(static_cast<int64_t>(span.segment)) + " of the form of " + entry_.path +
                    " did not come again: " + net::Describe(report));
      return false;
    }
  }
  const FileVerdict verdict = CheckFormFile(chain.PartialPath(), *form.digest);
  run_.log.Line("form of " + entry_.path + (verdict.ok ? rt::Text(" mended") : " still differs: " + verdict.reason));
  return verdict.ok;
}

FileEnd FileTries::Install(const rt::Text& partial_path) {
  const InstallResult installed = InstallFile(entry_.path, partial_path, local_path_, flow_.services.probe_replaceable);
  if (!installed.ok) {
    run_.Fail(installed.text, installed.log_line);
    return FileEnd::kFailed;
  }
  run_.log.Line(FormatInstalledLine(entry_.path, entry_.digest ? entry_.digest->size : rt::FileSize64(local_path_)));
  // A form's partial file left by an earlier run that chose another form.
  if (!entry_.forms.empty()) rt::RemoveFile(FormPartialPathOf(local_path_));
  run_.RecordInstalled(entry_, local_path_);
  run_.plan.Installed(index_);
  return FileEnd::kInstalled;
}

void FileTries::DropForm(const FileForm& form, FileChain& chain, const rt::Text& why) {
  static_cast<void>(chain.Drop());
  run_.log.Line("form of " + entry_.path + " dropped (" + form.Describe() + "): " + why);
}

FileTries::Fetched FileTries::ApplyAndInstall(const FileForm& form, FileChain& chain, FileEnd* end) {
  ApplyResult applied;
  {
    // One apply at a time in the whole run: a stopped run ends the one that
    // holds the lock soon, so the wait is short.
    std::lock_guard<rt::Lock> one_at_a_time(run_.apply_lock);
    if (run_.stop.load()) return Fetched::kStopped;
    // The bar starts over for the output, which is what the window shows.
    record_.total.store(form.output_size);
    record_.done.store(0);
    record_.try_number.fetch_add(1);
    const uint32_t started = flow_.services.tick_count();
    applied = ApplyForm(form, ApplyPaths{chain.PartialPath(), local_path_, PartialPathOf(local_path_)}, entry_,
                        record_.done, run_.made, run_.stop);
    if (applied.end == ApplyEnd::kMade) {
      const uint32_t ms = flow_.services.tick_count() - started;
      const int64_t made = form.output_size - applied.kept_bytes;
      run_.log.Line("applied " + form.Describe() + " to " + entry_.path + ": " + rt::ToText(made) + " bytes, " +
                    Seconds(ms) + ", " + KilobytesPerSecond(made, ms) +
                    (applied.kept_bytes > 0 ? ", after " + rt::ToText(applied.kept_bytes) + " bytes a cut apply left"
                                            : rt::Text()));
    }
  }
  switch (applied.end) {
    case ApplyEnd::kMade:
      static_cast<void>(chain.Drop());
      *end = Install(PartialPathOf(local_path_));
      return *end == FileEnd::kInstalled ? Fetched::kVerified : Fetched::kRunFailed;
    case ApplyEnd::kStopped:
      return Fetched::kStopped;
    case ApplyEnd::kWriteFailed:
      run_.Fail(WriteFailureText(applied.disk_full ? net::FailReason::kDiskFull : net::FailReason::kCannotWrite),
                "run failed at " + Where() + ": " +
                                              (applied.disk_full ? rt::Text("disk full while its form was applied")
                                                                 : applied.reason) +
                                              ", error " + rt::ToText(static_cast<int64_t>(applied.system_error)) +
                                              "; the form stays for the next run");
      return Fetched::kRunFailed;
    case ApplyEnd::kFormRefused:
      break;
  }
  DropForm(form, chain, applied.reason);
  return Fetched::kGaveUp;
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
rt::Text FileTries::WriteFailureText(net::FailReason reason) {
  if (reason != net::FailReason::kDiskFull) return kTextDownloadFailed;
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
  int32_t grew_to = 0;
  // Bounded: another transfer's try ends and leaves, or the run stops.
  while (!gate.TryEnter(open, &grew_to)) {
    if (run_.stop.load()) return false;
    if (!closed) connections_[mirror]->Close();
    closed = true;
    flow_.services.delay(kGateWaitMs);
  }
  if (grew_to > 0) {
    run_.log.Line(flow_.state.Site.MirrorText(run_.mirrors[mirror]) + ": " + rt::ToText(grew_to) +
                  " connections at once");
  }
  return true;
}

// A partial file written by another mirror is not resumed here.
bool FileTries::DropPartial(FileChain& chain, size_t mirror) {
  if (!chain.PartialLeft()) return true;
  if (chain.Drop()) {
    run_.log.Line("partial file of " + entry_.path + " dropped: not resumed on " +
                  flow_.state.Site.MirrorText(run_.mirrors[mirror]));
    return true;
  }
  run_.Fail(rt::FormatText(kTextFileNotWritable, chain.PartialPath().c_str()),
            "run failed at " + Where() + ": its partial file cannot be deleted");
  return false;
}

FileTries::Fetched FileTries::FetchOverMirrors(const FileForm& form, FileChain& chain) {
  MirrorTries tries(run_.mirrors.size(), chain.PartialLeft(), !form.Whole());
  NextTry next = tries.First();
  net::DownloadReport last;
  // Bounded: MirrorTries gives up after a bounded number of tries.
  while (next.kind != NextTry::Kind::kGiveUp) {
    if (next.kind == NextTry::Kind::kWaitThenTry) WaitBeforeRetry(next, last);
    if (!run_.WaitWhilePaused()) return Fetched::kStopped;
    if (next.drop_partial && !DropPartial(chain, next.mirror)) return Fetched::kRunFailed;
    const Try t = TryOn(form, chain, next.mirror, tries.OtherMirrorLeft());
    last = t.report;
    // An answer sent ahead that did not verify may be another file's: the
    // mirror is sent no more, and the file is asked again alone, using no try.
    if (t.report.sent_ahead && t.outcome == TryOutcome::kMismatch && !run_.pipelining[next.mirror]->GivenUp()) {
      connections_[next.mirror]->Close();
      GiveUpSendingAhead(run_, next.mirror, "an answer did not verify (" + entry_.path + ")");
      continue;
    }
    switch (t.outcome) {
      case TryOutcome::kVerified:
        return Fetched::kVerified;
      case TryOutcome::kCancelled:
        if (run_.stop.load()) return Fetched::kStopped;
        // Let go by a pause: the same mirror once resumed, using no try.
        next.kind = NextTry::Kind::kTry;
        next.drop_partial = false;
        continue;
      case TryOutcome::kRunEnds:
        run_.Fail(WriteFailureText(t.report.reason), "run failed at " + Where() + ": " + net::Describe(t.report));
        return Fetched::kRunFailed;
      default:
        break;
    }
    const size_t tried = next.mirror;
    next = tries.After(t.outcome, chain.PartialLeft());
    if (next.kind != NextTry::Kind::kTry) continue;
    if (next.mirror != tried) {
      run_.log.Line("next mirror for " + entry_.path + ": " + flow_.state.Site.MirrorText(run_.mirrors[next.mirror]));
    } else if (t.outcome == TryOutcome::kAdvanced) {
      run_.log.Line("go on with " + entry_.path + ": the cut try moved its partial file on (no try used)");
    } else {
      run_.log.Line("retry " + entry_.path + " from byte 0: the resumed file did not verify");
    }
  }
  return Fetched::kGaveUp;
}

FileEnd FileTries::Run() {
  rt::CreateFolderTree(rt::ParentFolderOf(local_path_));
  const bool partial_absent = run_.plan.File(index_).partial_absent.exchange(false);
  const OutdatedFile& file = run_.files[index_];
  const std::vector<FileForm> forms = FormsToTry(file);
  const auto is_delta = [](const auto& form) { return form.kind == list::FormKind::kDelta; };
  const auto tried_delta = [](const FileForm& form) { return form.transform == FormTransform::kDelta; };
  if (std::any_of(entry_.forms.begin(), entry_.forms.end(), is_delta) &&
      std::none_of(forms.begin(), forms.end(), tried_delta)) {
    run_.log.Line("no delta of " + entry_.path + " applies to the local file (" +
                  (file.local_present ? rt::ToText(file.local_size) + " bytes, checksum " +
                                            rt::ToText(static_cast<int32_t>(file.local_checksum))
                                      : rt::Text("none")) +
                  ")");
  }
  // Bounded: the list names finitely many forms; the whole file is the last.
  for (size_t i = 0; i + 1 < forms.size(); ++i) {
    const FileForm& form = forms[i];
    run_.log.Line("form of " + entry_.path + ": " + form.Describe() + " for a file of " +
                  rt::ToText(form.output_size) + " bytes");
    FileChain chain(local_path_, *form.digest);
    FileEnd end = FileEnd::kFailed;
    switch (FetchOverMirrors(form, chain)) {
      case Fetched::kVerified:
        switch (ApplyAndInstall(form, chain, &end)) {
          case Fetched::kVerified: return end;
          case Fetched::kStopped: return FileEnd::kStopped;
          case Fetched::kRunFailed: return FileEnd::kFailed;
          case Fetched::kGaveUp: break;
        }
        break;
      case Fetched::kStopped:
        return FileEnd::kStopped;
      case Fetched::kRunFailed:
        return FileEnd::kFailed;
      case Fetched::kGaveUp:
        DropForm(form, chain, "no mirror gave it");
        break;
    }
  }

  // The file's first try in this run, with no partial file found at its
  // start and no form applied into one above: no look-up of that name.
  FileChain chain(local_path_, entry_, partial_absent && forms.size() == 1);
  switch (FetchOverMirrors(forms.back(), chain)) {
    case Fetched::kVerified: return Install(chain.PartialPath());
    case Fetched::kStopped: return FileEnd::kStopped;
    case Fetched::kRunFailed: return FileEnd::kFailed;
    case Fetched::kGaveUp: break;
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

net::DownloadOptions TryOptions(RunContext& run, const FileForm& form, size_t mirror, MirrorConnections& connections) {
  const PatchSite& site = run.flow.state.Site;
  const size_t at = run.mirrors[mirror];
  net::DownloadOptions options(form.Whole() ? site.FileTarget(at, form.resource) : site.FormTarget(at, form.resource));
  options.limits = run.flow.run.limits;
  options.proxy = run.proxy;
  options.expected_size = form.ExpectedSize();
  options.connection = connections[mirror].get();
  options.cancel = &run.stop;
  options.received_counter = &run.received;
  options.ticks = run.flow.services.tick_count;
  options.rate = &run.rate;
  return options;
}

FileEnd BringFile(RunContext& run, size_t index, MirrorConnections& connections) {
  FileTries tries(run, index, connections);
  return tries.Run();
}

}  // namespace app

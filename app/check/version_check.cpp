// The remote version check, in four steps: fetch the lists (from the mirrors,
// as many as it takes, the last ones at once), choose one, checksum the local files it names (those
// unchanged since the last start from the checksum cache), and return the result:
// the files to fetch with what the check found of each local file.
#include "app/check/version_check.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "app/check/list_trust.h"
#include "checksum_cache/checksum_cache.h"
#include "list/file_list.h"
#include "app/retry.h"
#include "app/update_log.h"
#include "runtime/convert.h"
#include "runtime/text.h"
#include "runtime/thread.h"

namespace app {
namespace {

// The most time the checksums keep the window's messages waiting. One look
// at the message queue costs about 60 us under Wine, as much as the rest of
// a small file's checksum: looking between every chunk and file would double
// the time of a client of many small files.
constexpr uint32_t kEventsEveryMs = 25;

// Lets the window's messages through when kEventsEveryMs have passed since
// the last time.
class EventPacer {
 public:
  explicit EventPacer(Flow& flow) : flow_(flow), last_(flow.services.tick_count()) {}
  void operator()() {
    const uint32_t now = flow_.services.tick_count();
    if (now - last_ < kEventsEveryMs) return;
    last_ = now;
    flow_.services.process_events();
  }

 private:
  Flow& flow_;
  uint32_t last_;
};

// A usable list and the mirror that gave it.
struct Candidate {
  size_t mirror = 0;
  CheckedList checked;
};

// One request for the list, logged. Runs on the window thread.
rt::FetchResult FetchOnce(Flow& flow, const rt::Text& url) {
  const uint32_t started = flow.services.tick_count();
  rt::FetchResult result = flow.services.fetch_url(url);
  const uint32_t ms = flow.services.tick_count() - started;
  flow.services.log("list " + url + ": " + rt::ToString(result.outcome) + ", HTTP " + rt::ToText(result.status) +
                    ", " + rt::ToText(static_cast<int64_t>(result.body.size())) + " bytes, " + Seconds(ms));
  return result;
}

// The wait before another round over the mirrors whose fetch failed on the
// way; the waits let messages through, and the exit question ends the
// process during them too.
void WaitBeforeRound(Flow& flow, int32_t retry) {
  ui::WindowPort& window = *flow.window;
  window.SetCaption(ui::kCurrentTaskLabel, rt::FormatText(kTextRetrying, retry, kMoreTries));
  flow.services.log("retry " + rt::ToText(retry) + "/" + rt::ToText(kMoreTries) + " of the list in " +
                    Seconds(static_cast<uint32_t>(kRetryWaitsMs[retry - 1])));
  flow.services.delay(kRetryWaitsMs[retry - 1]);
  window.SetCaption(ui::kCurrentTaskLabel, kTextChecking);
}

// Choose: true when `fresh` is to be taken over `held`. Unsigned, the first
// usable list wins; signed, the higher sequence (the first of equals).
bool Prefer(const Candidate& fresh, const std::optional<Candidate>& held, const ListKeys& keys) {
  if (!held) return true;
  return keys.signed_lists && fresh.checked.sequence > held->checked.sequence;
}

// True when no other mirror can give a better list than `best`: unsigned,
// any usable list; signed, one above the sequence accepted before.
bool Settled(const Candidate& best, const ListKeys& keys, uint64_t kept) {
  return !keys.signed_lists || best.checked.sequence > kept;
}

// Once a signed list at the kept sequence is in hand (the client is current,
// as at most starts), the mirrors not yet heard from are asked at once and
// get this long in all to show a newer one (a mirror stuck on the release the
// player has must not hold them there while another has the next); then the
// check goes on with what it has, so a silent or dripping mirror cannot keep
// a current player from the game.
constexpr uint32_t kNewerListWaitMs = 3000;

// Checks a fetched body and keeps it in `best` when it is usable and better;
// logs why a list is refused.
void Consider(Flow& flow, const ListKeys& keys, uint64_t kept, size_t mirror, const rt::Bytes& body,
              std::optional<Candidate>& best, bool* expired) {
  const PatchSite& site = flow.state.Site;
  const int64_t today = keys.signed_lists ? flow.services.utc_day() : 0;
  Candidate fresh{mirror, CheckList(body, keys, kept, today)};
  if (!fresh.checked.usable()) {
    flow.services.log("list refused: " + fresh.checked.Reason());
    if (fresh.checked.verdict == trust::ListVerdict::kExpired) *expired = true;
    return;
  }
  // One file named twice (in another letter case too) is fetched once;
  // named with two checksums, the list cannot be followed.
  const list::RepeatCheck repeats = list::JoinRepeatedEntries(&fresh.checked.list.entries);
  if (!repeats.ok()) {
    flow.services.log("list refused: two entries name one file: " + repeats.conflict);
    return;
  }
  if (repeats.dropped > 0) {
    flow.services.log("list: " + rt::ToText(static_cast<int64_t>(repeats.dropped)) +
                      " entries name a file listed before, with its checksum: fetched once");
  }
  if (keys.signed_lists) {
    flow.services.log("list from " + site.MirrorText(mirror) + ": sequence " + rt::ToText(static_cast<int64_t>(fresh.checked.sequence)) +
                      ", product " + fresh.checked.product);
  }
  if (Prefer(fresh, best, keys)) best = std::move(fresh);
}

// The mirrors in `mirrors` asked at once for a list newer than `best`, for
// kNewerListWaitMs in all; a mirror with no answer by then is left behind.
void AskAtOnceForNewer(Flow& flow, const ListKeys& keys, uint64_t kept, const std::vector<size_t>& mirrors,
                       std::optional<Candidate>& best, bool* expired) {
  if (mirrors.empty()) return;
  const PatchSite& site = flow.state.Site;
  std::vector<rt::Text> urls;
  for (const size_t mirror : mirrors) urls.push_back(site.ListUrl(mirror));
  flow.services.log("list at the kept sequence " + rt::ToText(static_cast<int64_t>(kept)) + " in hand; " +
                    rt::ToText(static_cast<int32_t>(urls.size())) + " more mirrors asked at once for a newer one, " +
                    Seconds(kNewerListWaitMs) + " at most");
  const uint32_t started = flow.services.tick_count();
  const std::vector<std::optional<rt::FetchResult>> answers = flow.services.fetch_at_once(urls, kNewerListWaitMs);
  const uint32_t ms = flow.services.tick_count() - started;
  for (size_t i = 0; i < urls.size(); ++i) {
    if (i >= answers.size() || !answers[i]) {
      flow.services.log("list " + urls[i] + ": no answer in " + Seconds(ms) + "; going on without it");
      continue;
    }
    const rt::FetchResult& answer = *answers[i];
    flow.services.log("list " + urls[i] + ": " + rt::ToString(answer.outcome) + ", HTTP " +
                      rt::ToText(answer.status) + ", " + rt::ToText(static_cast<int64_t>(answer.body.size())) +
                      " bytes, asked at once");
    if (answer.ok()) Consider(flow, keys, kept, mirrors[i], answer.body, best, expired);
  }
}

// Fetch the lists: a round over the mirrors in order first, then, for the
// mirrors whose fetch failed on the way (no connection, cut short, a 5xx), up
// to kMoreTries more rounds after the waits of kRetryWaitsMs, until the choice
// is settled. A signed list at the kept sequence ends the rounds: the mirrors
// left get their short chance at once (AskAtOnceForNewer). Anything but a
// complete 2xx answer is no list: an error page is none, and a list cut short
// would hide entries. Nothing when no mirror gave a usable list; `expired`
// is set when a mirror's list was refused for its expiry date.
std::optional<Candidate> FetchLists(Flow& flow, const ListKeys& keys, uint64_t kept, bool* expired) {
  const PatchSite& site = flow.state.Site;
  std::vector<size_t> asking;
  for (size_t mirror = 0; mirror < site.MirrorCount(); ++mirror) asking.push_back(mirror);
  std::optional<Candidate> best;
  for (int32_t round = 0; round <= kMoreTries && !asking.empty(); ++round) {
    if (round > 0) WaitBeforeRound(flow, round);
    std::vector<size_t> again;
    for (size_t i = 0; i < asking.size(); ++i) {
      const rt::FetchResult fetched = FetchOnce(flow, site.ListUrl(asking[i]));  // released before the checksums
      if (!fetched.ok()) {
        if (IsTransientFetch(fetched)) again.push_back(asking[i]);
        continue;
      }
      Consider(flow, keys, kept, asking[i], fetched.body, best, expired);
      if (!best) continue;
      if (Settled(*best, keys, kept)) return best;
      std::vector<size_t> rest(asking.begin() + static_cast<std::ptrdiff_t>(i) + 1, asking.end());
      rest.insert(rest.end(), again.begin(), again.end());
      AskAtOnceForNewer(flow, keys, kept, rest, best, expired);
      return best;
    }
    asking = std::move(again);
  }
  return best;
}

// The files below this size that the cache does not vouch for are read by
// the window thread and kReadHelpers helper threads at once; larger ones by
// the window thread alone, one after another. A small file costs an open
// and a close that wait on the system more than on the disk, and a second
// reader hides that wait (20,000 files under Wine: 6.1 s read by one thread,
// 4.2 s by two, 7.2 s by four on two cores). A large file is read alone, so
// that a hard disk streams it rather than seeking between two.
constexpr int64_t kReadAtOnceBelow = 1 << 20;
constexpr int kReadHelpers = 1;

// A file the cache does not vouch for, read alone: one of kReadAtOnceBelow
// or more. Missing and unreadable files go with the small ones (they cost
// a failed open).
bool ReadAlone(const ChecksumCache::FileLook& look) {
  return !look.cached && look.facts && look.facts->size >= kReadAtOnceBelow;
}
bool ReadTogether(const ChecksumCache::FileLook& look) { return !look.cached && !ReadAlone(look); }

// Reads and records the small files (as above) that the looks left unread,
// each thread taking the next in list order. Only the calling thread lets
// the window's messages through, between its files and while it waits for
// the helpers.
class SmallFileReads {
 public:
  SmallFileReads(ChecksumCache& cache, const std::vector<PatchEntry>& entries,
                 const std::vector<ChecksumCache::FileLook>& looks, std::vector<int32_t>& sums)
      : cache_(cache), entries_(entries), looks_(looks), sums_(sums) {}

  void Run(const std::function<void()>& between_files) {
    const auto files = std::count_if(looks_.begin(), looks_.end(), ReadTogether);
    rt::ScopedThread helpers[kReadHelpers];
    if (files > 1) {
      for (rt::ScopedThread& helper : helpers) rt::StartThread(HelperBody, this, helper.receive());
    }
    Work(between_files);
    for (const rt::ScopedThread& helper : helpers) {
      if (helper) rt::JoinThreadWithEvents(helper.get(), rt::kWaitForever);
    }
  }

 private:
  static void HelperBody(void* reads) { static_cast<SmallFileReads*>(reads)->Work(nullptr); }

  void Work(const std::function<void()>& between_files) {
    for (size_t i = next_.fetch_add(1); i < entries_.size(); i = next_.fetch_add(1)) {
      if (!ReadTogether(looks_[i])) continue;
      sums_[i] = cache_.Read(entries_[i].path, looks_[i].facts).checksum;
      if (between_files) between_files();
    }
  }

  ChecksumCache& cache_;
  const std::vector<PatchEntry>& entries_;
  const std::vector<ChecksumCache::FileLook>& looks_;
  std::vector<int32_t>& sums_;
  std::atomic<size_t> next_{0};
};

// Checksum the local files: the entries whose local file (in the client
// folder) differs, in list order, each with what the client holds now.
// Unchanged files are taken from the checksum cache; the others are read, the
// small ones on two threads at once (SmallFileReads), then the large ones one
// after another. Messages get through between chunks and files (EventPacer),
// so a large file does not freeze the window. The cache is written back, and
// the log says what was read and how long it took.
std::vector<OutdatedFile> ChecksumLocalFiles(Flow& flow, std::vector<PatchEntry> entries) {
  SharedState& g = flow.state;
  const uint32_t started = flow.services.tick_count();
  sums::ChecksumCacheSettings settings;
  settings.client = g.Client;
  settings.enabled = g.UseChecksumCache;
  settings.full_check = g.FullCheck;
  settings.now = flow.services.file_time_now;
  flow.services.log("checksum cache: " + sums::Describe(g.Checksums.Begin(settings)));

  EventPacer pace(flow);
  const std::function<void()> between_chunks = [&pace] { pace(); };
  std::vector<int32_t> sums(entries.size());
  std::vector<ChecksumCache::FileLook> looks(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    looks[i] = g.Checksums.Look(entries[i].path);
    if (looks[i].cached) sums[i] = looks[i].cached->checksum;
    pace();
  }
  SmallFileReads(g.Checksums, entries, looks, sums).Run(between_chunks);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!ReadAlone(looks[i])) continue;
    sums[i] = g.Checksums.Read(entries[i].path, looks[i].facts, between_chunks).checksum;
    pace();
  }
  std::vector<OutdatedFile> outdated;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].checksum.Matches(sums[i])) continue;
    OutdatedFile file;
    file.entry = std::move(entries[i]);
    const std::optional<rt::FileFacts>& facts = looks[i].facts;
    file.local_present = facts && !facts->is_folder;
    file.local_size = file.local_present ? facts->size : 0;
    file.local_checksum = static_cast<uint32_t>(sums[i]);
    outdated.push_back(std::move(file));
  }

  const sums::CacheSave saved = g.Checksums.Save();
  const sums::CheckCounts counts = g.Checksums.counts();
  flow.services.log("checksums: " + rt::ToText(counts.files) + " files, " + rt::ToText(counts.from_cache) +
                    " from the cache, " + rt::ToText(counts.read) + " read, " + rt::ToText(counts.bytes_read) +
                    " bytes read, " + Seconds(flow.services.tick_count() - started) + "; cache " +
                    sums::ToString(saved));
  return outdated;
}

}  // namespace

std::optional<VersionCheck> CheckVersion(Flow& flow, bool* expired) {
  *expired = false;
  SharedState& g = flow.state;
  flow.window->SetCaption(ui::kGameTitleLabel, g.GameTitle);
  flow.window->SetCaption(ui::kCurrentTaskLabel, kTextChecking);
  if (g.Site.MirrorCount() == 0) flow.services.log("server setting refused: " + g.Site.Problem());

  const ListKeys keys = ParseListKeys(g.ListPublicKey, g.ListProduct);
  const SequenceKeeper keeper(g.Client.Path(kSequenceFileName), keys, flow.services.read_user_value,
                              flow.services.write_user_value);
  const uint64_t kept = keys.signed_lists ? keeper.Highest() : 0;
  std::optional<Candidate> chosen = FetchLists(flow, keys, kept, expired);
  if (!chosen) return std::nullopt;
  if (keys.signed_lists) keeper.Keep(chosen->checked.sequence);
  VersionCheck check;
  check.list_mirror = chosen->mirror;
  check.files = ChecksumLocalFiles(flow, std::move(chosen->checked.list.entries));
  return check;
}

}  // namespace app

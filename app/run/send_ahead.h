#pragma once
// Requests sent ahead (HTTP/1.1 pipelining) for many small files far away.
// Once the first mirror has shown that it keeps connections (a kept answer,
// not through a proxy), a transfer claims the next files in list order ahead
// of time and sends their fresh requests on its kept connection to that
// mirror, so that several answers are on their way at once instead of one
// round trip per file. Each file's own try then reads its answer: the engine
// takes a request sent ahead only when its bytes are exactly the try's, so
// every file keeps its request, tries, chain and install as without.
//
// On the first sign of trouble (an answer that does not match its request
// or does not verify, or connections that close with requests unanswered
// after fewer than kAnswersPerClose answers each on average) the mirror is
// sent no requests ahead again this run; the files whose requests went
// unanswered are asked again by their own tries, one at a time on a new
// connection. A close now and then after many answers is the server's limit
// on requests per connection: those files are asked again, and the mirror
// keeps its requests sent ahead.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "app/run/file_tries.h"
#include "app/run/run_context.h"
#include "runtime/types.h"

namespace app {

// The most requests one connection has sent ahead and not yet answered.
constexpr size_t kMostSentAhead = 16;
// Fewer answers than this to requests sent ahead per connection closed with
// requests unanswered, over the run and all connections to a mirror: a
// server that does not keep up with them.
constexpr int64_t kAnswersPerClose = 3;

// Whether requests are sent ahead to one mirror: not yet (until it shows it
// keeps connections), on, or given up for the rest of the run.
class MirrorPipelining {
 public:
  bool On() const { return state_.load() == kOn; }
  bool GivenUp() const { return state_.load() == kGivenUp; }
  // True when this call turned it on (it was neither on nor given up).
  bool TurnOn();
  // True when this call gave it up.
  bool GiveUp();
  // Adds what a connection to the mirror saw since its last note: answers
  // to requests sent ahead, and closes with requests unanswered. True when
  // the closes came after too few answers (kAnswersPerClose).
  bool NoteAnswersAndCloses(int64_t answered, int64_t closes);
  // What the notes add up to, for the log.
  int64_t Answered() const { return answered_.load(); }
  int64_t Closes() const { return closes_.load(); }

 private:
  static constexpr int32_t kNotYet = 0;
  static constexpr int32_t kOn = 1;
  static constexpr int32_t kGivenUp = 2;
  std::atomic<int32_t> state_{kNotYet};
  std::atomic<int64_t> answered_{0};
  std::atomic<int64_t> closes_{0};
};

// Gives up sending requests ahead to mirror `mirror` (an index into the
// run's mirrors) and logs why, once for the run.
void GiveUpSendingAhead(RunContext& run, size_t mirror, const rt::Text& why);

// The files one transfer has claimed and not brought in yet, oldest first.
// The requests its connection to the first mirror has sent ahead are those
// of the leading files, in the same order.
class AheadQueue {
 public:
  AheadQueue(RunContext& run, MirrorConnections& connections) : run_(run), connections_(connections) {}
  AheadQueue(const AheadQueue&) = delete;
  AheadQueue& operator=(const AheadQueue&) = delete;
  ~AheadQueue() { ReleaseAll(); }

  // The next file to bring in (the oldest claimed, else a new claim), or
  // RunPlan::kNone when no file is left.
  size_t Next();
  // Between files: takes note of trouble the first mirror's connection saw,
  // then claims files and sends their requests ahead while it may.
  void SendAhead();
  // Files claimed and not brought in go back to the plan.
  void ReleaseAll();

 private:
  // The options of the file's first try when that is a fresh request for the
  // whole file to the first mirror; none when it is not.
  std::optional<net::DownloadOptions> FirstTryOptions(size_t index);

  RunContext& run_;
  MirrorConnections& connections_;
  std::deque<size_t> claimed_;
  // The first mirror's connection's counts at the last note.
  int64_t noted_answered_ = 0;
  int64_t noted_closes_ = 0;
};

}  // namespace app

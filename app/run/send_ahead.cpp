#include "app/run/send_ahead.h"

#include <vector>

#include "app/run/file_chain.h"
#include "app/run/file_form.h"
#include "runtime/convert.h"
#include "runtime/files.h"

namespace app {

bool MirrorPipelining::TurnOn() {
  int32_t expected = kNotYet;
  return state_.compare_exchange_strong(expected, kOn);
}

bool MirrorPipelining::GiveUp() { return state_.exchange(kGivenUp) != kGivenUp; }

bool MirrorPipelining::NoteAnswersAndCloses(int64_t answered, int64_t closes) {
  const int64_t all_answered = answered_.fetch_add(answered) + answered;
  const int64_t all_closes = closes_.fetch_add(closes) + closes;
  return closes > 0 && all_answered < kAnswersPerClose * all_closes;
}

void GiveUpSendingAhead(RunContext& run, size_t mirror, const rt::Text& why) {
  if (!run.pipelining[mirror]->GiveUp()) return;
  run.log.Line(run.flow.state.Site.MirrorText(run.mirrors[mirror]) + ": no more requests sent ahead this run: " + why +
               "; unanswered files are asked again one at a time");
}

size_t AheadQueue::Next() {
  if (claimed_.empty()) return run_.plan.Claim();
  const size_t index = claimed_.front();
  claimed_.pop_front();
  return index;
}

void AheadQueue::SendAhead() {
  if (run_.mirrors.empty() || !run_.flow.services.send_ahead) return;
  net::HttpConnection& connection = *connections_[0];
  MirrorPipelining& pipelining = *run_.pipelining[0];
  const rt::Text trouble = connection.TakeTrouble();
  if (!trouble.empty()) GiveUpSendingAhead(run_, 0, trouble);
  const int64_t answered = connection.AnsweredAhead() - noted_answered_;
  const int64_t closes = connection.ClosesWithAhead() - noted_closes_;
  noted_answered_ += answered;
  noted_closes_ += closes;
  if (pipelining.NoteAnswersAndCloses(answered, closes)) {
    GiveUpSendingAhead(run_, 0, "the server closed " + rt::ToText(pipelining.Closes()) +
                                    " connections with requests unanswered after " +
                                    rt::ToText(pipelining.Answered()) + " answers to requests sent ahead in all");
  }
  if (pipelining.GivenUp()) return;
  // A closed connection has dropped what it sent ahead: those files are
  // asked in their own tries. What it still waits for is the leading files'.
  if (connection.Ahead() > claimed_.size()) connection.Close();
  // Bounded: at most kMostSentAhead requests, and each round claims or sends.
  for (size_t at = connection.Ahead(); at < kMostSentAhead && run_.Running() && !pipelining.GivenUp(); ++at) {
    if (at == claimed_.size()) {
      const size_t index = run_.plan.Claim();
      if (index == RunPlan::kNone) return;
      claimed_.push_back(index);
    }
    const std::optional<net::DownloadOptions> options = FirstTryOptions(claimed_[at]);
    if (!options || !run_.flow.services.send_ahead(*options)) return;
    if (pipelining.TurnOn()) {
      run_.log.Line(run_.flow.state.Site.MirrorText(run_.mirrors[0]) + ": requests sent ahead, up to " +
                    rt::ToText(static_cast<int64_t>(kMostSentAhead)) +
                    " on each connection (the server keeps connections)");
    }
  }
}

void AheadQueue::ReleaseAll() {
  for (const size_t index : claimed_) run_.plan.Release(index);
  claimed_.clear();
}

std::optional<net::DownloadOptions> AheadQueue::FirstTryOptions(size_t index) {
  const OutdatedFile& file = run_.files[index];
  const std::vector<FileForm> forms = FormsToTry(file);
  if (forms.size() != 1 || !forms.front().Whole()) return std::nullopt;
  // A partial file is resumed, which is never sent ahead.
  if (!run_.plan.File(index).partial_absent.load() &&
      rt::FileSize64(PartialPathOf(run_.flow.state.Client.Path(file.entry.path))) >= 0) {
    return std::nullopt;
  }
  return TryOptions(run_, forms.front(), 0, connections_);
}

}  // namespace app

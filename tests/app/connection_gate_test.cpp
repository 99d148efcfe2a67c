// How many connections a mirror takes at once, driven by injected ends of
// tries.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "app/run/connection_gate.h"

using namespace app;

namespace {

TEST(ConnectionGate, GrowsWhileServedAndBacksOffForTheRestOfTheRun) {
  using S = ServerSign;
  // An event: `enter` tries to take a connection (expecting `entered`), or a
  // try leaves with `sign`; `allowed` is the number allowed afterwards.
  struct Event {
    bool enter;
    bool entered;
    S sign;
    int32_t allowed;
  };
  const auto In = [](bool entered, int32_t allowed) { return Event{true, entered, S::kOther, allowed}; };
  const auto Out = [](S sign, int32_t allowed) { return Event{false, false, sign, allowed}; };
  struct Case {
    const char* what;
    int32_t most;
    std::vector<Event> events;
  };
  const Case cases[] = {
      {"starts with two; a third waits", 6, {In(true, 2), In(true, 2), In(false, 2)}},
      {"both busy and served: one more each time, up to the most",
       3,
       {In(true, 2), In(true, 2), Out(S::kServed, 3), In(true, 3), In(true, 3), Out(S::kServed, 3),
        In(true, 3), In(false, 3)}},
      {"served while not all were busy: no more", 6, {In(true, 2), Out(S::kServed, 2)}},
      {"once served, a try that finds all busy takes one more at once",
       4,
       {In(true, 2), Out(S::kServed, 2), In(true, 2), In(true, 2), In(true, 3), In(true, 4), In(false, 4)}},
      {"turned away: a busy gate does not grow again",
       6,
       {In(true, 2), In(true, 2), Out(S::kTurnedAway, 1), Out(S::kServed, 1), In(true, 1), In(false, 1)}},
      {"a most of one starts with one", 1, {In(true, 1), In(false, 1), Out(S::kServed, 1), In(true, 1)}},
      {"turned away with three open: two from then on, and no growth again",
       6,
       {In(true, 2), In(true, 2), Out(S::kServed, 3), In(true, 3), In(true, 3), Out(S::kTurnedAway, 2),
        Out(S::kServed, 2), In(true, 2), In(false, 2), Out(S::kServed, 2), Out(S::kServed, 2)}},
      {"turned away alone: one stays allowed", 6, {In(true, 2), Out(S::kTurnedAway, 1), In(true, 1), In(false, 1)}},
      {"a failure that says nothing changes nothing", 6, {In(true, 2), In(true, 2), Out(S::kOther, 2)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ConnectionGate gate(2, c.most);
    int32_t open_now = 0;
    for (size_t i = 0; i < c.events.size(); ++i) {
      const Event& e = c.events[i];
      if (e.enter) {
        int32_t open = 0;
        int32_t grew_to = 0;
        const int32_t before = gate.Allowed();
        EXPECT_EQ(gate.TryEnter(&open, &grew_to), e.entered) << "event " << i;
        EXPECT_EQ(grew_to, e.allowed != before ? e.allowed : 0) << "event " << i;
        if (e.entered) EXPECT_EQ(open, ++open_now) << "event " << i;
      } else {
        const int32_t before = gate.Allowed();
        const int32_t changed = gate.Leave(e.sign).allowed;
        --open_now;
        EXPECT_EQ(changed, e.allowed != before ? e.allowed : 0) << "event " << i;
      }
      EXPECT_EQ(gate.Allowed(), e.allowed) << "event " << i;
    }
  }
}

// Two allowed at first, at most four; the run's bytes come at `rates[n]`
// bytes a second while n connections are allowed (`later` from the 5th try
// on, when given). Every `try_ms` a try ends, served, with every connection
// busy, and a waiting try enters.
TEST(ConnectionGate, AddsConnectionsOnlyWhileTheyRaiseTheRunsRate) {
  struct Case {
    const char* what;
    uint32_t try_ms;
    std::vector<int64_t> rates;  // by the number allowed, 0..4
    std::vector<int64_t> later;
    int32_t want_allowed;        // after sixteen tries
    GateChange::Why want_last;   // the last change
  } const cases[] = {
      {"each one more raises the rate: four", 4000, {0, 100, 200, 300, 400}, {}, 4, GateChange::Why::kGrew},
      {"a full line: back to two", 4000, {0, 100, 200, 200, 200}, {}, 2, GateChange::Why::kNoGain},
      {"the third helps, the fourth not: three", 4000, {0, 100, 200, 300, 310}, {}, 3, GateChange::Why::kNoGain},
      {"a gain under 10 %: back to two", 4000, {0, 100, 200, 215, 230}, {}, 2, GateChange::Why::kNoGain},
      {"the line full for a while, then not: tried again, four", 4000, {0, 100, 200, 200, 200},
       {0, 100, 200, 300, 400}, 4, GateChange::Why::kGrew},
      {"numbers that ran too short to judge: four", 500, {0, 100, 200, 200, 200}, {}, 4, GateChange::Why::kGrew},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::atomic<int64_t> bytes{0};
    uint32_t now = 0;
    ConnectionGate gate(2, 4, RateProbe{&bytes, [&now] { return now; }});
    int32_t open = 0;
    int32_t grew_to = 0;
    ASSERT_TRUE(gate.TryEnter(&open, &grew_to));
    ASSERT_TRUE(gate.TryEnter(&open, &grew_to));
    GateChange last;
    for (int step = 0; step < 16; ++step) {
      now += c.try_ms;
      const std::vector<int64_t>& rates = step >= 4 && !c.later.empty() ? c.later : c.rates;
      bytes += rates[gate.Allowed()] * c.try_ms / 1000;
      const GateChange change = gate.Leave(ServerSign::kServed);
      if (change.why != GateChange::Why::kNone) last = change;
      // The try that follows, and any that waited for the gate to grow.
      while (gate.TryEnter(&open, &grew_to) && open < gate.Allowed()) {
      }
    }
    EXPECT_EQ(gate.Allowed(), c.want_allowed);
    EXPECT_EQ(last.why, c.want_last);
  }
}

TEST(ConnectionGate, WhatATryToldAboutTheServer) {
  struct Case {
    net::FailReason reason;
    int32_t status;
    ServerSign sign;
  } const cases[] = {
      {net::FailReason::kHttpStatus, 503, ServerSign::kTurnedAway},
      {net::FailReason::kRefused, 0, ServerSign::kTurnedAway},
      {net::FailReason::kReset, 0, ServerSign::kTurnedAway},
      {net::FailReason::kReset, 200, ServerSign::kServed},  // cut in the body: the server took it
      {net::FailReason::kHttpStatus, 500, ServerSign::kServed},
      {net::FailReason::kNone, 206, ServerSign::kServed},
      {net::FailReason::kHostNotFound, 0, ServerSign::kOther},
      {net::FailReason::kNoAnswer, 0, ServerSign::kOther},
  };
  for (const Case& c : cases) {
    net::DownloadReport report;
    report.reason = c.reason;
    report.http_status = c.status;
    EXPECT_EQ(SignOf(report), c.sign) << net::ToString(c.reason) << " " << c.status;
  }
}

}  // namespace

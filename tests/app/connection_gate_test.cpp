// How many connections a mirror takes at once, driven by injected ends of
// tries.
#include <gtest/gtest.h>

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
        const int32_t changed = gate.Leave(e.sign);
        --open_now;
        EXPECT_EQ(changed, e.allowed != before ? e.allowed : 0) << "event " << i;
      }
      EXPECT_EQ(gate.Allowed(), e.allowed) << "event " << i;
    }
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

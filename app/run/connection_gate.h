#pragma once
// How many connections the run keeps open to one mirror at once. It starts
// with a few; once the server has served a try, a try that finds every
// allowed connection busy gets one more at once, up to the most the build
// allows (waiting for the busy ones to be served first costs the first files
// a round trip each). A server that
// turns connections away (a 503, a refused or reset connection) lowers the
// number for the rest of the run, below what was open when it refused, and
// it never grows again: a server or gateway that allows fewer connections
// per address is then asked on no more than it takes.
#include <cstdint>

#include "net/download_report.h"
#include "runtime/lock.h"

namespace app {

// What one try on a mirror's connection told about the server.
enum class ServerSign : int32_t {
  kServed,     // an answer came (whatever its status, but 503)
  kTurnedAway, // 503, or the connection refused or reset before any body byte
  kOther,      // anything else: says nothing about the connection count
};
ServerSign SignOf(const net::DownloadReport& report);

class ConnectionGate {
 public:
  // `first` connections at the start, `most` at the most (both at least 1).
  ConnectionGate(int32_t first, int32_t most);
  ConnectionGate(const ConnectionGate&) = delete;
  ConnectionGate& operator=(const ConnectionGate&) = delete;

  // Takes a connection when fewer than the allowed number are open, or when
  // all are busy and the number may still grow; the number open (this one
  // included) in `*open`, and in `*grew_to` the allowed number when it grew
  // for this one, else 0.
  [[nodiscard]] bool TryEnter(int32_t* open, int32_t* grew_to);
  // The try that Enter allowed has ended with `sign`. The allowed number
  // after it when it changed, else 0.
  int32_t Leave(ServerSign sign);

  int32_t Allowed();
  int32_t Most() const { return most_; }

 private:
  const int32_t most_;
  rt::Lock lock_;
  int32_t allowed_;        // guarded by lock_
  int32_t open_ = 0;       // guarded by lock_
  bool backed_off_ = false;  // guarded by lock_
  bool served_ = false;      // guarded by lock_: a try has been served
};

}  // namespace app

#pragma once
// What the update flow works with: the shared state, the window (through
// its component port), the services that reach outside the process and the
// run's numbers; and the flow's entry points.
#include <cstdint>

#include "app/services.h"
#include "app/shared_state.h"
#include "app/texts.h"
#include "net/transfer_limits.h"
#include "runtime/types.h"
#include "ui/window_port.h"

namespace app {

// Files the download run fetches at once, each on its own thread with its
// own kept connections (one per mirror): never more than kTransfers
// connections to one host. Chosen with bench/latency (see README).
inline constexpr int32_t kTransfers = 6;
// How often the run copies the progress of the file the window shows into
// the progress record: well within the display's 100 ms tick.
inline constexpr int32_t kPublishMs = 40;

// The download run's numbers, in one place; tests give their own.
struct RunSettings {
  int32_t transfers = kTransfers;
  net::TransferLimits limits;  // every try's receive wait, stall rule and floor rate
  int32_t publish_ms = kPublishMs;
  int32_t first_connections = 2;  // each mirror's at the start; more while they help
};

class LinkControl;

struct Flow {
  SharedState& state;
  ui::WindowPort* window = nullptr;
  FlowServices services;
  RunSettings run;
  LinkControl* link = nullptr;  // the player's pause and speed cap; none: no cap, no pause
};

// The version check: the handler of the window's first activation.
void CheckRemoteVersion(Flow& flow);
// The download run: the body of the worker thread, which starts the
// transfers and shows their progress. Ends the program after a successful
// run; returns after a failed one (the window stays), once every transfer
// has stopped.
void RunPatchDownloads(Flow& flow);
// The enter-game click.
void LaunchGame(Flow& flow);

}  // namespace app

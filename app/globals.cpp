#include "app/globals.h"

namespace app {
namespace {
Globals* g_globals = nullptr;
}

Globals& CreateGlobals() {
  if (!g_globals) g_globals = new Globals();
  return *g_globals;
}

Globals& G() { return *g_globals; }

void ReleaseGlobals() {
  delete g_globals;
  g_globals = nullptr;
}

}  // namespace app

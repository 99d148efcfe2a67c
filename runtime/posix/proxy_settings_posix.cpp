#include "runtime/proxy_settings.h"

namespace rt {

// The native build has no per-user proxy setting: downloads go direct.
ProxySettings ReadUserProxySettings() { return ProxySettings(); }

}  // namespace rt

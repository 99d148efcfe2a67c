#pragma once
// The user's proxy setting, as the system's own HTTP client reads it. On
// Windows: the per-user Internet Settings in the registry
// (HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings).
// Elsewhere there is no such setting and the result is empty.
#include "runtime/types.h"

namespace rt {

struct ProxySettings {
  bool enabled = false;      // ProxyEnable is a non-zero DWORD
  Text server;               // ProxyServer: "host:port" or "http=host:port;https=..."
  Text bypass;               // ProxyOverride: ";"-separated host patterns, "<local>"
  Text auto_config_url;      // AutoConfigURL: a proxy script, which the system's client evaluates
  // "Automatically detect settings" is not read: on in a stock Windows, it
  // finds no script on nearly every network, and the system's client then
  // goes the way the rest says.
};

// Read afresh on every call (a player may change it while the updater runs).
ProxySettings ReadUserProxySettings();

}  // namespace rt

#pragma once
// Whole-body HTTP fetch through the operating system's HTTP client (WinINet
// on Windows; a small HTTP/1.0 client of our own on POSIX).
#include "runtime/types.h"

namespace rt {

// Connect and receive time-outs of FetchUrl, so that a dead server cannot
// hold the window thread for long.
constexpr int kFetchConnectTimeoutMs = 10000;
constexpr int kFetchReceiveTimeoutMs = 15000;

// The response body: all of it when the transfer ends normally; empty when the
// URL cannot be parsed or the server cannot be reached; the bytes read so far
// when reading fails part-way. The HTTP status is not looked at.
Bytes FetchUrl(const Text& url);

}  // namespace rt

// net::sys over a script (see scripted_socket.h). One connection at a time,
// single-threaded, as the engine harness uses it.
#include <algorithm>
#include <cstring>

#include "net/socket_api.h"
#include "tests/fuzz/scripted_socket.h"

namespace fuzz {
namespace {

struct Script {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t position = 0;
  std::size_t piece = 1;
  std::string sent;
  std::size_t receives = 0;
};

Script& TheScript() {
  static Script script;
  return script;
}

}  // namespace

void ScriptServer(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  Script& s = TheScript();
  s.data = data;
  s.size = size;
  s.position = 0;
  s.piece = piece == 0 ? 1 : piece;
  s.sent.clear();
  s.receives = 0;
}

const std::string& SentBytes() { return TheScript().sent; }
std::size_t ReceiveCount() { return TheScript().receives; }

}  // namespace fuzz

namespace net::sys {
namespace {

constexpr SocketHandle kScriptedHandle = 7;
thread_local int32_t t_last_error = 0;

}  // namespace

int32_t StartSockets() { return 0; }
void CleanupSockets() {}
SocketHandle OpenSocket(bool) { return kScriptedHandle; }
void CloseSocket(SocketHandle) {}

bool ParseDottedAddress(const rt::Text& text, uint32_t* address) {
  if (text != "127.0.0.1") return false;
  *address = 0x0100007F;
  return true;
}
bool LookupHost(const rt::Text&, uint32_t*) { return false; }
rt::Text FormatAddress(uint32_t) { return "127.0.0.1"; }

bool BindSocket(SocketHandle, const Endpoint&) { return true; }
bool ConnectSocket(SocketHandle, const Endpoint&) { return true; }
bool ListenSocket(SocketHandle, int32_t) { return false; }
SocketHandle AcceptSocket(SocketHandle) { return kInvalidSocket; }

WaitResult WaitReady(SocketHandle, bool, int32_t) { return WaitResult::kReady; }

int32_t SendSome(SocketHandle, const std::uint8_t* data, int32_t size) {
  fuzz::TheScript().sent.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
  return size;
}

int32_t ReceiveSome(SocketHandle, std::uint8_t* buffer, int32_t size) {
  fuzz::Script& s = fuzz::TheScript();
  ++s.receives;
  const std::size_t n = std::min({s.piece, s.size - s.position, static_cast<std::size_t>(size)});
  if (n == 0) return 0;  // the server closed the connection
  std::memcpy(buffer, s.data + s.position, n);
  s.position += n;
  return static_cast<int32_t>(n);
}

int32_t ReceiveIfWaiting(SocketHandle, std::uint8_t*, int32_t) { return kNothingWaiting; }

int32_t SendDatagram(SocketHandle, const std::uint8_t*, int32_t, const Endpoint&) { return -1; }
int32_t ReceiveDatagram(SocketHandle, std::uint8_t*, int32_t, Endpoint*) { return -1; }

bool LocalEndpoint(SocketHandle, Endpoint*) { return false; }
bool PeerEndpoint(SocketHandle, Endpoint*) { return false; }
bool SetBroadcast(SocketHandle) { return false; }

int32_t LastSocketError() { return t_last_error; }
void SetLastSocketError(int32_t code) { t_last_error = code; }

}  // namespace net::sys

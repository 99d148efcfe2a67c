// net::sys over a script (see scripted_socket.h). Single-threaded, as the
// engine harness uses it.
#include <algorithm>
#include <cstring>
#include <map>

#include "net/socket_api.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/scripted_socket.h"

namespace fuzz {
namespace {

// A run of the script: [begin, end) of the input.
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
};

struct Connection {
  std::vector<Span> answers;
  std::size_t allowed = 0;   // answers readable: one per request sent
  std::size_t current = 0;   // the answer being read
  std::size_t position = 0;  // the next byte of the input to hand out
};

struct Script {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t piece = 1;
  std::vector<std::vector<Span>> connections;  // the answers of each connection, in order
  std::size_t opened = 0;
  std::map<net::SocketHandle, Connection> open;
  std::vector<std::string> sent;
};

Script& TheScript() {
  static Script script;
  return script;
}

// Splits [begin, end) at `marker`.
std::vector<Span> Split(const std::uint8_t* data, Span span, const char* marker) {
  std::vector<Span> pieces;
  std::size_t start = span.begin;
  std::size_t at = span.begin;
  // Bounded: every round moves `at` forward.
  while (at + kMarkerSize <= span.end) {
    if (std::memcmp(data + at, marker, kMarkerSize) == 0) {
      pieces.push_back({start, at});
      at += kMarkerSize;
      start = at;
    } else {
      ++at;
    }
  }
  pieces.push_back({start, span.end});
  return pieces;
}

// Moves past answers read to their end, up to the last one allowed.
void SkipFinished(Connection& c) {
  while (c.current < c.allowed && c.current < c.answers.size() && c.position >= c.answers[c.current].end) {
    ++c.current;
    if (c.current < c.answers.size()) c.position = c.answers[c.current].begin;
  }
}

bool HasReadable(Connection& c) {
  SkipFinished(c);
  return c.current < c.allowed && c.current < c.answers.size() && c.position < c.answers[c.current].end;
}

}  // namespace

void ScriptServer(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  Script& s = TheScript();
  s.data = data;
  s.size = size;
  s.piece = piece == 0 ? 1 : piece;
  s.connections.clear();
  for (const Span& connection : Split(data, {0, size}, kNextConnection)) {
    s.connections.push_back(Split(data, connection, kNextAnswer));
  }
  s.opened = 0;
  s.open.clear();
  s.sent.clear();
}

const std::vector<std::string>& SentRequests() { return TheScript().sent; }
std::size_t ConnectionsOpened() { return TheScript().opened; }

}  // namespace fuzz

namespace net::sys {
namespace {

constexpr SocketHandle kFirstHandle = 7;
thread_local int32_t t_last_error = 0;

fuzz::Connection* Find(SocketHandle handle) {
  auto& open = fuzz::TheScript().open;
  const auto it = open.find(handle);
  return it == open.end() ? nullptr : &it->second;
}

}  // namespace

int32_t StartSockets() { return 0; }
void CleanupSockets() {}

SocketHandle OpenSocket(bool) {
  fuzz::Script& s = fuzz::TheScript();
  fuzz::Connection connection;
  if (s.opened < s.connections.size()) connection.answers = s.connections[s.opened];
  if (!connection.answers.empty()) connection.position = connection.answers[0].begin;
  const SocketHandle handle = kFirstHandle + static_cast<SocketHandle>(s.opened);
  ++s.opened;
  s.open[handle] = connection;
  return handle;
}

void CloseSocket(SocketHandle handle) { fuzz::TheScript().open.erase(handle); }

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

WaitResult WaitReady(SocketHandle handle, bool for_write, int32_t) {
  fuzz::Connection* c = Find(handle);
  if (for_write || c == nullptr) return WaitResult::kReady;
  if (fuzz::HasReadable(*c)) return WaitResult::kReady;
  // Every answer given: the server has closed. Otherwise it waits for a request.
  return c->allowed >= c->answers.size() ? WaitResult::kReady : WaitResult::kTimedOut;
}

int32_t SendSome(SocketHandle handle, const std::uint8_t* data, int32_t size) {
  fuzz::Script& s = fuzz::TheScript();
  s.sent.emplace_back(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
  fuzz::Connection* c = Find(handle);
  if (c != nullptr) {
    // Every byte of the answers given so far has been read before the next request.
    FUZZ_CHECK(!fuzz::HasReadable(*c));
    ++c->allowed;
    fuzz::SkipFinished(*c);
  }
  return size;
}

int32_t ReceiveSome(SocketHandle handle, std::uint8_t* buffer, int32_t size) {
  fuzz::Script& s = fuzz::TheScript();
  fuzz::Connection* c = Find(handle);
  if (c == nullptr || !fuzz::HasReadable(*c)) return 0;  // the server closed the connection
  const std::size_t left = c->answers[c->current].end - c->position;
  const std::size_t n = std::min({s.piece, left, static_cast<std::size_t>(size)});
  std::memcpy(buffer, s.data + c->position, n);
  c->position += n;
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

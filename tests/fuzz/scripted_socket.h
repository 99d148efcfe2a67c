#pragma once
// A socket layer that plays a script instead of talking to a network: every
// connect succeeds, sent bytes are kept, and receives hand out the server's
// bytes in pieces of at most `piece` bytes.
//
// The script is split into connections at kNextConnection (each socket
// opened takes the next one; none left: an empty one), and a connection into
// answers at kNextAnswer: the n-th answer becomes readable once the n-th
// request has been sent on that connection, as a server that waits for each
// request would send it. With every answer read and none to come, the
// connection ends (end of stream); while one waits for its request, a
// receive times out. A script without markers is one connection, one answer.
//
// Linked in place of the system backend (net/posix) for the engine harness.
// It checks one property of the engine itself: a request goes out on a
// connection only when every byte of the earlier answers there has been read
// (so that no byte of one response can be taken for the next).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

constexpr char kNextConnection[] = "\xFF\xFE" "C\n";
constexpr char kNextAnswer[] = "\xFF\xFE" "A\n";
constexpr std::size_t kMarkerSize = 4;

void ScriptServer(const std::uint8_t* data, std::size_t size, std::size_t piece);
// Every request the engine sent since the last ScriptServer, in order.
const std::vector<std::string>& SentRequests();
// Connections opened since the last ScriptServer.
std::size_t ConnectionsOpened();

}  // namespace fuzz

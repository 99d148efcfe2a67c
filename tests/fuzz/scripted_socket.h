#pragma once
// A socket layer that plays a script instead of talking to a network: every
// connect succeeds, sent bytes are kept, and each receive hands out the next
// piece of the server's bytes (at most `piece` bytes), then the end of stream.
// Linked in place of the system backend (net/posix) for the engine harness.
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

void ScriptServer(const std::uint8_t* data, std::size_t size, std::size_t piece);
// Everything the engine sent since the last ScriptServer.
const std::string& SentBytes();
// Receives made since the last ScriptServer.
std::size_t ReceiveCount();

}  // namespace fuzz

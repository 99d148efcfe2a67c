// The address record and name lookup of both socket backends (see
// socket_api_inet.h); the calls have the same names and meaning on both.
#include "net/socket_api_inet.h"

#include <cstring>

namespace net::sys {

sockaddr_in ToSockaddr(const Endpoint& endpoint) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  address.sin_addr.s_addr = endpoint.address;
  return address;
}

Endpoint FromSockaddr(const sockaddr_in& address) {
  Endpoint endpoint;
  endpoint.address = address.sin_addr.s_addr;
  endpoint.port = ntohs(address.sin_port);
  return endpoint;
}

bool ParseDottedAddress(const rt::Text& text, uint32_t* address) {
  const auto value = inet_addr(text.c_str());
  if (value == INADDR_NONE) return false;
  *address = static_cast<uint32_t>(value);
  return true;
}

bool LookupHost(const rt::Text& host, uint32_t* address) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return true;
}

}  // namespace net::sys

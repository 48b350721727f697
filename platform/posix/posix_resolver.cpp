#include "platform/posix/posix_resolver.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace tarvel {

std::optional<Ipv4Address> PosixResolver::resolve(const std::string& host) {
  if (host.empty()) return std::nullopt;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &answer) != 0 || answer == nullptr) {
    return std::nullopt;
  }
  Ipv4Address address{};
  const auto* in = reinterpret_cast<const sockaddr_in*>(answer->ai_addr);
  std::memcpy(address.data(), &in->sin_addr, address.size());
  ::freeaddrinfo(answer);
  return address;
}

}  // namespace tarvel

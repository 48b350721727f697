#include "tests/support/test_app.hpp"

#include <arpa/inet.h>

#include <cstring>

namespace tarvel::testing {

std::optional<Ipv4Address> OnlineSwitch::resolve(const std::string& host) {
  (void)host;
  std::lock_guard lock(mutex_);
  ++lookups_;
  const bool online = answers_.empty() || answers_.front();
  if (answers_.size() > 1) answers_.pop_front();
  if (!online) return std::nullopt;
  return Ipv4Address{127, 0, 0, 1};
}

std::optional<Ipv4Address> LoopbackResolver::resolve(const std::string& host) {
  if (host == "localhost") return Ipv4Address{127, 0, 0, 1};
  in_addr literal{};
  if (::inet_pton(AF_INET, host.c_str(), &literal) != 1) return std::nullopt;
  Ipv4Address address{};
  std::memcpy(address.data(), &literal, address.size());
  if (address[0] != 127) return std::nullopt;
  return address;
}

}  // namespace tarvel::testing

#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvel {

using Ipv4Address = std::array<std::uint8_t, 4>;

// Blocking host name lookup (IPv4, as the launcher's probes speak IPv4 only).
class Resolver {
 public:
  virtual ~Resolver() = default;
  // First IPv4 address of the host, or nothing when it does not resolve.
  [[nodiscard]] virtual std::optional<Ipv4Address> resolve(const std::string& host) = 0;
};

}  // namespace tarvel

#pragma once

#include "platform/resolver.hpp"

namespace tarvel {

// The system's resolver (getaddrinfo, IPv4 answers only).
class PosixResolver final : public Resolver {
 public:
  [[nodiscard]] std::optional<Ipv4Address> resolve(const std::string& host) override;
};

}  // namespace tarvel

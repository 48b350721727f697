#pragma once

#include "platform/echo.hpp"

namespace tarvel {

// ICMP sockets: a raw socket where the process may open one, otherwise the
// unprivileged ICMP datagram socket ("ping socket") where the system allows it.
class PosixEchoSockets final : public EchoSockets {
 public:
  [[nodiscard]] std::unique_ptr<EchoSocket> open() override;
};

}  // namespace tarvel

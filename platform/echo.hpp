#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/resolver.hpp"

namespace tarvel {

// One ICMP socket for echo requests.
class EchoSocket {
 public:
  virtual ~EchoSocket() = default;
  virtual bool send_to(const Ipv4Address& destination, std::span<const std::uint8_t> packet) = 0;
  // True when a datagram can be read within the time-out; false on time-out or error.
  virtual bool wait_readable(int timeout_ms) = 0;
  // Reads one datagram into the buffer; the byte count, or -1 on error.
  virtual long receive(std::span<std::uint8_t> buffer) = 0;
  // Closes the socket; false when the system reports an error.
  virtual bool close() = 0;
};

class EchoSockets {
 public:
  virtual ~EchoSockets() = default;
  // A new ICMP socket, or nothing when the system refuses one.
  [[nodiscard]] virtual std::unique_ptr<EchoSocket> open() = 0;
};

}  // namespace tarvel

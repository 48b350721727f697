#include "core/probe.hpp"

#include "core/app.hpp"

namespace tarvel {
namespace {

constexpr int kEchoAttempts = 2;
constexpr int kEchoWaitMs = 1000;

void put_u16(EchoRequest& packet, std::size_t at, std::uint16_t value) {
  packet[at] = static_cast<std::uint8_t>(value & 0xFF);
  packet[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put_u32(EchoRequest& packet, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    packet[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
  }
}

EchoRequest next_echo_request(App& app) {
  EchoCounters& counters = app.echo_counters();
  const auto identifier = static_cast<std::uint16_t>(counters.identifier++);
  const auto sequence = static_cast<std::uint16_t>(counters.sequence++);
  return build_echo_request(identifier, sequence, static_cast<std::uint32_t>(app.clock().tick_ms()));
}

}  // namespace

bool public_host_probe(App& app) {
  if (app.resolver().resolve(app.public_host())) return true;
  app.settings().set_status(kStatusNoConnectivity, error_text(kStatusNoConnectivity));
  return false;
}

std::string host_extraction(const std::string& address) {
  const auto slash = address.find('/');
  if (slash == std::string::npos || slash + 2 >= address.size()) return {};
  const auto start = slash + 2;
  const auto end = address.find('/', start);
  return address.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::uint16_t echo_checksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    sum += static_cast<std::uint32_t>(bytes[i]) | (static_cast<std::uint32_t>(bytes[i + 1]) << 8);
  }
  if (i < bytes.size()) sum += bytes[i];
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

EchoRequest build_echo_request(std::uint16_t identifier, std::uint16_t sequence,
                               std::uint32_t tick_ms) {
  EchoRequest packet{};
  packet[0] = 8;  // echo request
  packet[1] = 0;
  put_u16(packet, 4, identifier);
  put_u16(packet, 6, sequence);
  put_u32(packet, 9, tick_ms);
  for (std::size_t i = 0; i < 32; ++i) packet[13 + i] = static_cast<std::uint8_t>(0x20 + i);
  put_u16(packet, 2, echo_checksum(packet));
  return packet;
}

bool echo_probe(App& app, const std::string& host) {
  auto socket = app.echo_sockets().open();
  if (!socket) return false;
  const auto destination = app.resolver().resolve(host);
  if (!destination) {
    socket->close();
    return false;
  }
  std::array<std::uint8_t, kEchoReceiveSize> answer{};
  for (int attempt = 0; attempt < kEchoAttempts; ++attempt) {
    const EchoRequest request = next_echo_request(app);
    socket->send_to(*destination, request);
    if (!socket->wait_readable(kEchoWaitMs)) break;
    socket->receive(answer);
  }
  return socket->close();
}

}  // namespace tarvel

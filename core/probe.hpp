#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tarvel {

class App;

inline constexpr std::size_t kEchoRequestSize = 45;
inline constexpr std::size_t kEchoReceiveSize = 321;
using EchoRequest = std::array<std::uint8_t, kEchoRequestSize>;

// The identifier and sequence counters of the echo requests. Both start at 1
// and grow by one per request sent, across probes, for the life of the App.
struct EchoCounters {
  std::uint32_t identifier = 1;
  std::uint32_t sequence = 1;
};

// Resolves the public host. False when it does not resolve; the status pair
// is then 402 and "Err=402". On success the status is left alone.
[[nodiscard]] bool public_host_probe(App& app);

// The host part of an address: from just after the "//" that follows the
// first "/" up to the next "/". A port or user part stays in. An address
// without room for a host gives "".
[[nodiscard]] std::string host_extraction(const std::string& address);

// Sends up to two echo requests to the host and waits up to a second for each
// answer. True when the exchange was carried out (socket opened, host
// resolved, socket closed cleanly), whether or not an answer came.
[[nodiscard]] bool echo_probe(App& app, const std::string& host);

// The 45-byte echo request with the given counters and time stamp.
[[nodiscard]] EchoRequest build_echo_request(std::uint16_t identifier, std::uint16_t sequence,
                                             std::uint32_t tick_ms);

// Internet checksum over little-endian 16-bit words (an odd last byte is a
// word with a zero high byte), folded twice and inverted. Stored little-endian,
// its bytes are the standard checksum on the wire.
[[nodiscard]] std::uint16_t echo_checksum(std::span<const std::uint8_t> bytes);

}  // namespace tarvel

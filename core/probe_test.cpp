#include "core/probe.hpp"

#include <gtest/gtest.h>

#include <deque>

#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

// The standard Internet checksum computed the textbook way: big-endian
// 16-bit words, returned as the two bytes that go on the wire.
std::array<std::uint8_t, 2> reference_checksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const std::uint32_t hi = bytes[i];
    const std::uint32_t lo = i + 1 < bytes.size() ? bytes[i + 1] : 0;
    sum += (hi << 8) | lo;
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  const auto value = static_cast<std::uint16_t>(~sum);
  return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)};
}

TEST(EchoRequestLayout, ByteForByte) {
  const EchoRequest packet = build_echo_request(0x0102, 0x0304, 0xA1B2C3D4);
  EXPECT_EQ(packet[0], 8);
  EXPECT_EQ(packet[1], 0);
  EXPECT_EQ(packet[4], 0x02);  // identifier, little-endian
  EXPECT_EQ(packet[5], 0x01);
  EXPECT_EQ(packet[6], 0x04);  // sequence, little-endian
  EXPECT_EQ(packet[7], 0x03);
  EXPECT_EQ(packet[8], 0);
  EXPECT_EQ(packet[9], 0xD4);  // time stamp, little-endian
  EXPECT_EQ(packet[12], 0xA1);
  for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(packet[13 + i], 0x20 + i);

  EchoRequest zeroed = packet;
  zeroed[2] = zeroed[3] = 0;
  const auto wire = reference_checksum(zeroed);
  EXPECT_EQ(packet[2], wire[0]);
  EXPECT_EQ(packet[3], wire[1]);
  // A packet with its checksum in place sums to zero.
  EXPECT_EQ(reference_checksum(packet), (std::array<std::uint8_t, 2>{0, 0}));
}

TEST(EchoRequestLayout, ChecksumOverManyCounterValues) {
  for (std::uint32_t n = 0; n < 70000; n += 977) {
    const EchoRequest packet = build_echo_request(static_cast<std::uint16_t>(n),
                                                  static_cast<std::uint16_t>(n * 7), n * 13);
    ASSERT_EQ(reference_checksum(packet), (std::array<std::uint8_t, 2>{0, 0})) << n;
  }
}

TEST(HostExtraction, Addresses) {
  EXPECT_EQ(host_extraction("http://dl.example.test/client/"), "dl.example.test");
  EXPECT_EQ(host_extraction("http://dl.example.test"), "dl.example.test");
  EXPECT_EQ(host_extraction("http://127.0.0.1:8080/x"), "127.0.0.1:8080");
  EXPECT_EQ(host_extraction("http://user@h/x"), "user@h");
  EXPECT_EQ(host_extraction(""), "");
  EXPECT_EQ(host_extraction("no-slash"), "");
  EXPECT_EQ(host_extraction("http:/"), "");
  EXPECT_EQ(host_extraction("ab/c"), "");
}

TEST(PublicHostProbe, ResolvableHostPassesAndLeavesStatus) {
  testing::TestApp t("localhost");
  t.app.settings().set_status(202, "1,2,common,en");
  EXPECT_TRUE(public_host_probe(t.app));
  EXPECT_EQ(t.app.settings().status(), (Status{202, "1,2,common,en"}));
}

TEST(PublicHostProbe, UnresolvableHostSets402) {
  testing::TestApp t("never-resolves.invalid");
  EXPECT_FALSE(public_host_probe(t.app));
  EXPECT_EQ(t.app.settings().take_status(), (Status{402, "Err=402"}));
}

// A socket double that records what the probe sends.
class FakeEchoSockets final : public EchoSockets {
 public:
  struct Log {
    std::vector<EchoRequest> sent;
    std::deque<bool> readable;  // answers to wait_readable, then false
    bool close_ok = true;
    int opened = 0;
  };
  explicit FakeEchoSockets(Log& log) : log_(log) {}
  std::unique_ptr<EchoSocket> open() override {
    ++log_.opened;
    return std::make_unique<Socket>(log_);
  }

 private:
  struct Socket final : EchoSocket {
    explicit Socket(Log& log) : log(log) {}
    bool send_to(const Ipv4Address&, std::span<const std::uint8_t> p) override {
      EchoRequest r{};
      std::copy(p.begin(), p.end(), r.begin());
      log.sent.push_back(r);
      return true;
    }
    bool wait_readable(int timeout_ms) override {
      EXPECT_EQ(timeout_ms, 1000);
      if (log.readable.empty()) return false;
      const bool r = log.readable.front();
      log.readable.pop_front();
      return r;
    }
    long receive(std::span<std::uint8_t> b) override {
      EXPECT_EQ(b.size(), 321u);
      return 0;
    }
    bool close() override { return log.close_ok; }
    Log& log;
  };
  Log& log_;
};

struct EchoHarness {
  explicit EchoHarness()
      : sockets(log),
        app(t.services_with([this](Services& s) {
          s.resolver = &resolver;
          s.echo_sockets = &sockets;
        })) {
    resolver.add("dl.test", {127, 0, 0, 1});
  }
  testing::TestApp t;
  FakeEchoSockets::Log log;
  FakeEchoSockets sockets;
  testing::TableResolver resolver;
  App app;
};

TEST(EchoProbe, CountersStartAtOneAndGrowAcrossProbes) {
  EchoHarness h;
  h.log.readable = {true, true};
  EXPECT_TRUE(echo_probe(h.app, "dl.test"));  // two requests, both answered
  h.log.readable = {false};
  EXPECT_TRUE(echo_probe(h.app, "dl.test"));  // one request, no answer: still true
  ASSERT_EQ(h.log.sent.size(), 3u);
  for (std::uint8_t n = 1; n <= 3; ++n) {
    const EchoRequest& r = h.log.sent[n - 1];
    EXPECT_EQ(r[4], n);
    EXPECT_EQ(r[5], 0);
    EXPECT_EQ(r[6], n);
    EXPECT_EQ(r[7], 0);
  }
}

TEST(EchoProbe, FailuresAreSilent) {
  EchoHarness h;
  EXPECT_FALSE(echo_probe(h.app, "unknown.invalid"));
  EXPECT_TRUE(h.log.sent.empty()) << "nothing is sent to a host that does not resolve";
  h.log.close_ok = false;
  EXPECT_FALSE(echo_probe(h.app, "dl.test"));
  EXPECT_EQ(h.app.settings().status(), (Status{0, ""}));
}

TEST(EchoProbe, RealSocketToLoopback) {
  testing::TestApp t;
  PosixEchoSockets real;
  auto socket = real.open();
  if (!socket) GTEST_SKIP() << "this system allows neither raw nor datagram ICMP sockets";
  socket->close();
  EXPECT_TRUE(echo_probe(t.app, "127.0.0.1"));
  EXPECT_FALSE(echo_probe(t.app, "never-resolves.invalid"));
}

}  // namespace
}  // namespace tarvel

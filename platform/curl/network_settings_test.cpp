// The libcurl clients behind a proxy, and under a rate cap.
#include <gtest/gtest.h>

#include "platform/curl/curl_batch.hpp"
#include "platform/curl/curl_http_get.hpp"
#include "platform/curl/curl_http_post.hpp"
#include "platform/curl/rate_cap.hpp"
#include "tests/support/forwarding_proxy.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"

namespace tarvel {
namespace {

using Outcome = HttpResult::Outcome;
using testing::ForwardingProxy;
using testing::ProxyEnvironment;

// Names that resolve nowhere: only the proxy can carry requests for them.
std::string via_name(int port, const std::string& path) {
  return "http://files.test:" + std::to_string(port) + "/" + path;
}

struct BehindAProxy : ::testing::Test {
  BehindAProxy() { served.write("pkg/a.bin", std::string(50'000, 'a')); }
  ~BehindAProxy() override { CurlHttpGet::close_idle_connections(); }

  HttpResult fetch(const std::string& address) {
    return http.get_file(address, {}, local / "a.bin");
  }

  ForwardingProxy proxy;
  testing::TempDir served;
  testing::TempDir local;
  testing::TestHttpServer server{served.path()};
  CurlHttpGet http{{}, testing::quick_retries()};
};

// Asking again cannot help: the transfer fails at once, with the proxy's
// status and what the player has to mend.
TEST_F(BehindAProxy, AProxyAskingForCredentialsFailsTheTransferAndSaysSo) {
  proxy.require("player", "s3cret");
  const std::string plain = via_name(server.port(), "pkg/a.bin");
  const std::string tunnelled = "https://files.test:" + std::to_string(server.port()) + "/a.bin";
  const struct {
    std::string address;
    std::string proxy;
    std::string message;
  } cases[] = {
      {plain, proxy.address(), "the proxy " + proxy.address() + " asks for credentials"},
      {plain, proxy.address("player:wrong"),
       "the proxy " + proxy.address() + " refused the credentials written in its address"},
      {tunnelled, proxy.address(), "the proxy " + proxy.address() + " asks for credentials"},
  };
  for (const auto& c : cases) {
    ProxyEnvironment env({{"http_proxy", c.proxy}, {"https_proxy", c.proxy}});
    const std::size_t before = proxy.requests().size();
    const HttpResult result = fetch(c.address);
    const std::string said = result.cause.detail;
    EXPECT_EQ(result.outcome, Outcome::status) << c.address << " via " << c.proxy;
    EXPECT_EQ(result.status, 407);
    EXPECT_EQ(result.cause.kind, FailureCause::Kind::proxy);
    EXPECT_EQ(proxy.requests().size(), before + 1) << "no retry";
    EXPECT_NE(said.find(c.message), std::string::npos) << said;
    EXPECT_EQ(said.find("wrong"), std::string::npos) << "no password in the cause";
  }
  EXPECT_FALSE(local.exists("a.bin"));
}

TEST_F(BehindAProxy, TheServicesAnswerIsNeverTheProxysRefusal) {
  testing::RequestServiceDouble service;
  proxy.require("player", "s3cret");
  ProxyEnvironment env({{"http_proxy", proxy.address()}});
  CurlHttpPost post;
  const PostAnswer answer = post.exchange(via_name(service.port(), "request"), "<request/>");
  EXPECT_EQ(answer.body, std::nullopt);
  EXPECT_NE(answer.cause.detail.find("asks for credentials"), std::string::npos);
  EXPECT_EQ(proxy.requests().size(), 1u);
  EXPECT_TRUE(service.received().empty());
}

TEST(RateCapTest, TheBucketFillsAtTheRateAndHoldsOnePiece) {
  using std::chrono::milliseconds;
  const auto t0 = RateCap::Clock::time_point{} + std::chrono::hours(1);
  RateCap cap;
  EXPECT_FALSE(cap.capped());
  EXPECT_TRUE(cap.pay(1'000'000'000, t0)) << "no cap, no wait";

  cap.set_rate(80'000, t0);  // a piece is 10,000 bytes
  EXPECT_TRUE(cap.capped());
  EXPECT_EQ(cap.piece_bytes(), 10'000u);
  EXPECT_FALSE(cap.pay(1, t0)) << "it starts empty";
  EXPECT_EQ(cap.wait_for(8'000, t0), milliseconds(100));
  EXPECT_FALSE(cap.pay(8'000, t0 + milliseconds(99)));
  EXPECT_TRUE(cap.pay(8'000, t0 + milliseconds(100)));
  EXPECT_FALSE(cap.pay(1, t0 + milliseconds(100)));

  // A long pause lets no burst through: the bucket holds one piece at most.
  const auto later = t0 + std::chrono::seconds(60);
  EXPECT_TRUE(cap.pay(10'000, later));
  EXPECT_FALSE(cap.pay(1, later));

  // A piece larger than the bucket goes once the bucket is full, and the
  // debt is paid before anything else.
  const auto full = later + milliseconds(125);
  EXPECT_TRUE(cap.pay(30'000, full));
  EXPECT_NEAR(static_cast<double>(cap.wait_for(1, full).count()), 250'012'500.0, 10.0);
}

// Held back by the cap far below the client's stall floor, transfers still
// complete: waiting for the cap is not a stall.
TEST(CappedTransfers, ACappedTransferIsNotAStall) {
  testing::TempDir served;
  testing::TempDir local;
  const int files = 4;
  std::vector<FileTransfer> list;
  testing::TestHttpServer server{served.path()};
  for (int i = 0; i < files; ++i) {
    const std::string name = "f" + std::to_string(i);
    served.write(name, std::string(40'000, static_cast<char>('a' + i)));
    list.push_back({server.url(name), local / name});
  }
  TransferPolicy policy = testing::quick_retries();
  policy.floor_bytes_per_second = 1'000'000;
  CurlHttpGet http{{}, policy};
  HttpGetOptions options;
  options.stall_seconds = 1;
  options.max_receive_rate = 160'000;  // a second for all four, far below their floor

  struct Count final : BatchObserver {
    bool finished(std::size_t, const HttpResult& result) override {
      ok += result.ok() ? 1 : 0;
      return true;
    }
    int ok = 0;
  } count;
  EXPECT_TRUE(http.get_files(list, options, files, count));
  EXPECT_EQ(count.ok, files);
  for (int i = 0; i < files; ++i) {
    const std::string name = "f" + std::to_string(i);
    EXPECT_EQ(local.read(name), std::string(40'000, static_cast<char>('a' + i)));
  }
  EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(files))
      << "none stalled and retried";
  CurlHttpGet::close_idle_connections();
}

// A file held back by the cap for a second, far past its quiet limit, is
// not a quiet one: it is waited for and fetched once.
TEST(CappedTransfers, WaitingForTheCapIsNotQuiet) {
  testing::TempDir served;
  testing::TempDir local;
  served.write("f", std::string(6 * 1024, 'q'));
  testing::TestHttpServer server{served.path()};
  CurlHttpGet http{{}, testing::quick_retries()};
  HttpGetOptions options;
  options.first_byte_limit = std::chrono::milliseconds(700);
  options.quiet_limit = std::chrono::milliseconds(700);
  options.max_receive_rate = 4 * 1024;  // the first 4 KiB after a second, the rest half a second later
  EXPECT_TRUE(http.get_file(server.url("f"), options, local / "f").ok());
  EXPECT_EQ(local.read("f"), std::string(6 * 1024, 'q'));
  EXPECT_EQ(server.requests().size(), 1u);
  CurlHttpGet::close_idle_connections();
}

// Counts what reaches it.
class CountingSink final : public BatchSink {
 public:
  explicit CountingSink(std::size_t& received) : received_(received) {}
  [[nodiscard]] bool open(std::uint64_t offset, const std::string&) override {
    received_ = 0;
    return offset == 0;
  }
  [[nodiscard]] bool write(const char*, std::size_t size) override {
    received_ += size;
    return true;
  }
  [[nodiscard]] bool commit() override { return true; }
  void abandon() override {}

 private:
  std::size_t& received_;
};

// Held back together, transfers go on in turn: none sits idle (where its
// server might give up on it) while another takes every share.
TEST(CappedTransfers, HeldBackTransfersTakeTurns) {
  constexpr std::size_t kSize = 256 * 1024;
  testing::TempDir served;
  served.write("a", std::string(kSize, 'a'));
  served.write("b", std::string(kSize, 'b'));
  testing::TestHttpServer server{served.path()};
  RateCap cap;
  cap.set_rate(2 * kSize);
  const CurlClientSettings settings{{}, testing::quick_retries(), &cap};
  const HttpGetOptions options;
  std::vector<std::size_t> received(2, 0);
  std::optional<std::size_t> other_at_first_end;
  CurlBatch batch(settings, options, 2);
  const bool all = batch.run(
      {{server.url("a"), ""}, {server.url("b"), ""}},
      [&](std::size_t index, std::size_t, const std::string&, WriteBehind&) {
        return std::make_unique<CountingSink>(received[index]);
      },
      [&](std::size_t index, const HttpResult& result) {
        if (!other_at_first_end) other_at_first_end = received[1 - index];
        return result.ok();
      });
  EXPECT_TRUE(all);
  EXPECT_EQ(received, (std::vector<std::size_t>{kSize, kSize}));
  ASSERT_TRUE(other_at_first_end.has_value());
  EXPECT_GE(*other_at_first_end, kSize / 2);
  CurlHttpGet::close_idle_connections();
}

}  // namespace
}  // namespace tarvel

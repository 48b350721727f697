#include "platform/curl/curl_http_get.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/curl/curl_http_post.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"

namespace tarvel {
namespace {

using Fault = testing::TestHttpServer::Fault;
using Outcome = HttpResult::Outcome;

using testing::names_in;

struct CurlHttpGetTest : ::testing::Test {
  CurlHttpGetTest() { served.write("pkg/movie.swf", std::string(10000, 'm')); }
  ~CurlHttpGetTest() override { CurlHttpGet::close_idle_connections(); }

  HttpResult fetch(const std::string& path, const HttpGetOptions& options = {}) {
    return http.get_file(server.url(path), options, target());
  }
  std::string target() const { return local / "movie.swf"; }

  testing::TempDir served;
  testing::TempDir local;
  testing::TestHttpServer server{served.path()};
  CurlHttpGet http{{}, testing::quick_retries()};
};

TEST_F(CurlHttpGetTest, CompleteBodyReplacesTargetAndLeavesNoTemporary) {
  local.write("movie.swf", "old");
  const HttpResult result = fetch("pkg/movie.swf");
  EXPECT_EQ(result.outcome, Outcome::complete);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(local.read("movie.swf"), std::string(10000, 'm'));
  EXPECT_EQ(names_in(local.path()), std::vector<std::string>{"movie.swf"});
}

TEST_F(CurlHttpGetTest, EmptyBodyMakesEmptyFile) {
  served.write("empty.txt", "");
  EXPECT_TRUE(http.get_file(server.url("empty.txt"), {}, local / "empty.txt").ok());
  EXPECT_EQ(local.read("empty.txt"), "");
}

// Whatever goes wrong, the previous file stays whole and no partial file
// or temporary is left behind.
TEST_F(CurlHttpGetTest, FailuresNeverTouchTheTarget) {
  const struct {
    Fault fault;
    Outcome outcome;
  } cases[] = {
      {Fault::not_found, Outcome::status},
      {Fault::server_error, Outcome::status},
      {Fault::reset_mid_body, Outcome::transfer},
      {Fault::short_body, Outcome::transfer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    local.write("movie.swf", "old");
    server.set_fault("pkg/movie.swf", c.fault);
    EXPECT_EQ(fetch("pkg/movie.swf").outcome, c.outcome);
    EXPECT_EQ(local.read("movie.swf"), "old");
    EXPECT_EQ(names_in(local.path()), std::vector<std::string>{"movie.swf"});
  }
}

TEST_F(CurlHttpGetTest, StatusIsReported) {
  server.set_fault("pkg/movie.swf", Fault::server_error);
  EXPECT_EQ(fetch("pkg/movie.swf").status, 500);
  EXPECT_EQ(fetch("nothing/here.swf").status, 404);
}

TEST_F(CurlHttpGetTest, WantedStatusOnlyOrAny2xx) {
  HttpGetOptions exact;
  exact.wanted_status = 200;
  EXPECT_TRUE(fetch("pkg/movie.swf", exact).ok());
  HttpGetOptions any;
  EXPECT_TRUE(fetch("pkg/movie.swf", any).ok());
}

TEST_F(CurlHttpGetTest, StalledServerFailsAfterTheStallLimit) {
  server.set_fault("pkg/movie.swf", Fault::stall);
  HttpGetOptions options;
  options.stall_seconds = 1;
  // A tiny body, so the measured speed falls below a byte a second at once.
  served.write("pkg/movie.swf", "abcd");
  EXPECT_EQ(fetch("pkg/movie.swf", options).outcome, Outcome::transfer);
  EXPECT_TRUE(server.wait_for_stall(std::chrono::seconds(0))) << "the server did stall";
  EXPECT_EQ(names_in(local.path()), std::vector<std::string>{});
}

TEST_F(CurlHttpGetTest, CancelEndsAStalledTransferAndStopsTheNextBeforeItStarts) {
  server.set_fault("pkg/movie.swf", Fault::stall);
  std::atomic<bool> cancel{false};
  HttpGetOptions options;
  options.stall_seconds = 0;  // only the cancel can end this transfer
  options.cancel = &cancel;
  std::optional<HttpResult> stalled;
  std::thread transfer([&] { stalled = fetch("pkg/movie.swf", options); });
  ASSERT_TRUE(server.wait_for_stall(std::chrono::seconds(20)));
  cancel = true;
  transfer.join();
  EXPECT_EQ(stalled->outcome, Outcome::transfer);
  EXPECT_EQ(names_in(local.path()), std::vector<std::string>{});

  server.set_fault("pkg/movie.swf", Fault::none);
  EXPECT_EQ(fetch("pkg/movie.swf", options).outcome, Outcome::transfer);
  EXPECT_EQ(server.requests().size(), 1u) << "a cancelled transfer sends nothing";
}

TEST_F(CurlHttpGetTest, MissingFolderIsASinkFailure) {
  const HttpResult result = http.get_file(server.url("pkg/movie.swf"), {}, local / "no/such/x.swf");
  EXPECT_EQ(result.outcome, Outcome::sink);
}

TEST_F(CurlHttpGetTest, UnreachableServerIsATransferFailure) {
  // A port held but not listening: nobody else can take it meanwhile.
  const testing::RefusingAddress refusing;
  EXPECT_EQ(http.get_file(refusing.address(), {}, local / "x").outcome, Outcome::transfer);
}

// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
 public:
  void set(const char* name, const std::string& value) {
    keep(name);
    ::setenv(name, value.c_str(), 1);
  }
  void unset(const char* name) {
    keep(name);
    ::unsetenv(name);
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : old_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }

 private:
  void keep(const char* name) {
    const char* value = std::getenv(name);
    old_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> old_;
};

// The launcher behaves the same whatever the environment says: a proxy named
// there, here one that refuses every connection, is used by neither client.
TEST_F(CurlHttpGetTest, NeitherClientFollowsProxyVariables) {
  const testing::RefusingAddress refusing;
  const std::string request_url = refusing.address();
  const std::string proxy = request_url.substr(0, request_url.rfind('/'));
  ScopedEnvironment environment;
  for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "ALL_PROXY", "HTTPS_PROXY"})
    environment.set(name, proxy);
  environment.unset("no_proxy");
  environment.unset("NO_PROXY");

  EXPECT_EQ(fetch("pkg/movie.swf").outcome, Outcome::complete);
  testing::RequestServiceDouble service;
  service.answer({200, "<response/>", {}});
  EXPECT_EQ(CurlHttpPost().post(service.address(), "<request/>"), "<response/>");
}

TEST_F(CurlHttpGetTest, FilesFromOneServerShareOneConnection) {
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(fetch("pkg/movie.swf").ok());
  EXPECT_EQ(server.requests().size(), 20u);
  EXPECT_EQ(server.connections(), 1);
}

TEST_F(CurlHttpGetTest, EachThreadHasItsOwnConnection) {
  ASSERT_TRUE(fetch("pkg/movie.swf").ok());
  std::thread worker([&] {
    StringSink sink;
    EXPECT_TRUE(http.get(server.url("pkg/movie.swf"), {}, sink).ok());
    EXPECT_EQ(sink.body().size(), 10000u);
    CurlHttpGet::close_idle_connections();
  });
  worker.join();
  EXPECT_EQ(server.connections(), 2);
}

TEST_F(CurlHttpGetTest, UserAgentOnlyWhenAsked) {
  HttpGetOptions named;
  named.user_agent = "GetWebFile/1.0";
  ASSERT_TRUE(fetch("pkg/movie.swf", named).ok());
  ASSERT_TRUE(fetch("pkg/movie.swf").ok());
  const auto seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].user_agent, "GetWebFile/1.0");
  EXPECT_EQ(seen[1].user_agent, "");
}

TEST_F(CurlHttpGetTest, StringSinkKeepsTheBody) {
  served.write("setup.xml", "version=$version-1.2\n");
  StringSink sink;
  EXPECT_TRUE(http.get(server.url("setup.xml"), {}, sink).ok());
  EXPECT_EQ(sink.body(), "version=$version-1.2\n");
  server.set_fault("setup.xml", Fault::not_found);
  EXPECT_FALSE(http.get(server.url("setup.xml"), {}, sink).ok());
  EXPECT_EQ(sink.body(), "") << "an error page never reaches the sink";
}

TEST_F(CurlHttpGetTest, OnlyHttpAndHttps) {
  served.write("f.txt", "x");
  EXPECT_EQ(http.get_file("file://" + (served / "f.txt"), {}, local / "f.txt").outcome,
            Outcome::transfer);
  EXPECT_FALSE(std::filesystem::exists(local / "f.txt"));
}

// HTTPS with a certificate of our own: refused by default (verification is
// on), accepted once its authority is trusted.
TEST(CurlHttpsTest, CertificatesAreVerified) {
  testing::TempDir keys;
  ASSERT_TRUE(testing::make_loopback_certificate(keys)) << "openssl could not make a certificate";
  testing::TempDir served;
  served.write("a.txt", "secret");
  testing::TestHttpServer server(served.path(), {keys / "cert.pem", keys / "key.pem"});
  ASSERT_EQ(server.url().substr(0, 8), "https://");

  testing::TempDir local;
  CurlHttpGet system_trust;
  EXPECT_EQ(system_trust.get_file(server.url("a.txt"), {}, local / "a.txt").outcome,
            Outcome::transfer);
  EXPECT_FALSE(std::filesystem::exists(local / "a.txt"));

  CurlHttpGet own_trust(keys / "cert.pem");
  EXPECT_TRUE(own_trust.get_file(server.url("a.txt"), {}, local / "a.txt").ok());
  EXPECT_EQ(local.read("a.txt"), "secret");
  CurlHttpGet::close_idle_connections();
}

}  // namespace
}  // namespace tarvel

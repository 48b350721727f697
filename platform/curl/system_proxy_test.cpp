#include "platform/curl/system_proxy.hpp"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "tests/support/forwarding_proxy.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_http_server.hpp"
#include "tests/support/request_service_double.hpp"

namespace tarvel {
namespace {

using testing::ProxyEnvironment;

TEST(SystemProxy, LoopbackAddressesAreKnownByTheirHost) {
  const struct {
    const char* address;
    bool loopback;
  } cases[] = {
      {"http://127.0.0.1:8080/a", true},
      {"http://127.3.4.5/", true},
      {"HTTPS://LOCALHOST/x", true},
      {"http://localhost.:81", true},
      {"http://[::1]:8080/a", true},
      {"http://user:pw@127.0.0.1/a", true},
      {"http://127.0.0.1.example.com/", false},
      {"http://128.0.0.1/", false},
      {"http://localhost.example/", false},
      {"http://[::2]/", false},
      {"http://files.test/127.0.0.1", false},
      {"http://127.0.0.1@files.test/", false},
      {"", false},
      // As libcurl reads them: it connects to "o", and to 127.0.0.1.
      {"http:/o://127.0.0.10", false},
      {"http://127.1/", true},
      {"http://0x7f.1/", true},
  };
  for (const auto& c : cases) EXPECT_EQ(is_loopback_address(c.address), c.loopback) << c.address;
}

TEST(SystemProxy, TheFirstUsableAnswerWins) {
  using List = std::vector<std::string>;
  const struct {
    List answers;
    const char* proxy;
  } cases[] = {
      {{"direct://"}, ""},
      {{}, ""},
      {{"http://p:3128"}, "http://p:3128"},
      {{"http://u:pw@p:3128", "direct://"}, "http://u:pw@p:3128"},
      {{"DIRECT://", "http://p:1"}, ""},
      {{"ftp://p:21", "https://p:443"}, "https://p:443"},
      {{"socks://p:1080"}, "socks5://p:1080"},
      {{"socks4://p:1080"}, "socks4://p:1080"},
      {{"socks5h://p:1080"}, "socks5h://p:1080"},
      {{"http://", "socks://", "wpad://", "gopher://x"}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(first_usable_proxy(c.answers), c.proxy) << ::testing::PrintToString(c.answers);
  }
}

TEST(SystemProxy, TheEnvironmentNamesTheProxyAndItsExceptions) {
  ProxyEnvironment env({{"http_proxy", "http://u:pw@127.0.0.1:3128"},
                        {"HTTPS_PROXY", "http://127.0.0.1:3129"},
                        {"no_proxy", "direct.test,.inside.test"}});
  EXPECT_EQ(system_proxy_for("http://files.test/a"), "http://u:pw@127.0.0.1:3128");
  EXPECT_EQ(system_proxy_for("https://files.test/a"), "http://127.0.0.1:3129");
  EXPECT_EQ(system_proxy_for("http://direct.test:8080/a"), "");
  EXPECT_EQ(system_proxy_for("http://host.inside.test/a"), "");
  EXPECT_EQ(system_proxy_for("http://127.0.0.1:8080/a"), "") << "loopback never goes through";
  EXPECT_EQ(system_proxy_for("http://localhost:8080/a"), "");
}

TEST(SystemProxy, APacScriptRoutesEachHostItsOwnWay) {
  testing::RequestServiceDouble site;
  site.answer("/proxy.pac",
              {200,
               "function FindProxyForURL(url, host) {\n"
               "  if (host == \"via.test\") return \"PROXY 127.0.0.1:3128; DIRECT\";\n"
               "  return \"DIRECT\";\n"
               "}\n",
               {{"Content-Type", "application/x-ns-proxy-autoconfig"}}});
  ProxyEnvironment env({{"http_proxy", "pac+" + site.address("/proxy.pac")}});
  EXPECT_EQ(system_proxy_for("http://via.test/a"), "http://127.0.0.1:3128");
  EXPECT_EQ(system_proxy_for("http://other.test/a"), "");
}

// A PAC server that never answers: the lookup goes direct within its
// deadline, said once, and a launcher that stops leaves the wait at once.
TEST(SystemProxy, APacThatNeverComesGoesDirectAndNeverHoldsALauncherThatStops) {
  testing::TempDir site;
  site.write("proxy.pac", "function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:1\"; }");
  testing::TestHttpServer pac(site.path());
  pac.set_fault("proxy.pac", testing::TestHttpServer::Fault::hold);
  ProxyEnvironment env({{"http_proxy", "pac+" + pac.url("proxy.pac")}});

  std::atomic<bool> stop{false};
  auto stopped = std::async(std::launch::async, [&] {
    // Were the stop not heard, this would wait for ten minutes (and the
    // test's time-out end it).
    return system_proxy_for("http://files.test/a", &stop, std::chrono::minutes(10));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  stop = true;
  EXPECT_EQ(stopped.get(), "");

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(system_proxy_for("http://files.test/b", nullptr, std::chrono::milliseconds(300)), "");
  EXPECT_EQ(system_proxy_for("http://files.test/c", nullptr, std::chrono::milliseconds(300)), "");
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said,
            "tarvel: the system's proxy settings gave no answer for files.test within 300 ms: "
            "going direct while they give none\n");
}

}  // namespace
}  // namespace tarvel

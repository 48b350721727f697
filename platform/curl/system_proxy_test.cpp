#include "platform/curl/system_proxy.hpp"

#include <gtest/gtest.h>

#include "tests/support/forwarding_proxy.hpp"
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

}  // namespace
}  // namespace tarvel

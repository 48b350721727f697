// A player behind a proxy: installs and logins travel through it.
#include <gtest/gtest.h>

#include "server/login_request.hpp"
#include "tests/support/forwarding_proxy.hpp"
#include "tests/support/package_site.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"
#include "update/common_package.hpp"

namespace tarvel {
namespace {

using testing::ForwardingProxy;
using testing::PackageSite;
using testing::ProxyEnvironment;

struct BehindACompanyProxy : ::testing::Test {
  BehindACompanyProxy() {
    site.log_in(t.app, t.dir);
    site.publish_common({"common/login.swf", "common/images/logo.png", "casino/table.txt"});
    // A name that resolves nowhere: only the proxy can reach the site.
    const std::string root = "http://casino.test:" + std::to_string(site.server.port()) + "/";
    Settings& s = t.app.settings();
    s.set_url(root);
    s.set_common_url(root + PackageSite::kCommon);
    s.set_game_url(root + PackageSite::kGames);
    testing::write_config(
        t.app.settings().application_directory(),
        {{"ServerURL", "http://service.test:" + std::to_string(service.port()) + "/request.php"}});
    service.answer({200, testing::login_answer("0", testing::kTicketedRest), {}});
  }

  bool log_in() {
    ServerRequest request;
    t.app.settings().set_user_name("player");
    t.app.settings().set_password("secret");
    return send_login_request(t.app, request);
  }

  ForwardingProxy proxy;
  PackageSite site;
  testing::RequestServiceDouble service;
  testing::TestApp t;
};

TEST_F(BehindACompanyProxy, EveryRequestOfAnInstallAndALoginGoesThroughTheProxy) {
  ProxyEnvironment env({{"http_proxy", proxy.address()}});
  ASSERT_TRUE(install_common_package(t.app));
  EXPECT_EQ(t.dir.read("common/login.swf"), "common/login.swf");
  const std::size_t fetched = site.request_count();
  ASSERT_GE(fetched, 4u);
  ASSERT_TRUE(log_in());
  EXPECT_NE(t.app.settings().login_properties(), "");

  const auto seen = proxy.requests();
  ASSERT_EQ(seen.size(), fetched + 1) << "every file and the login";
  for (const auto& request : seen) {
    EXPECT_TRUE(request.target.starts_with("http://casino.test:") ||
                request.target.starts_with("http://service.test:"))
        << request.target;
  }
  EXPECT_EQ(seen.back().method, "POST");
}

TEST_F(BehindACompanyProxy, ServersOnThisMachineAreReachedDirectly) {
  ProxyEnvironment env({{"http_proxy", proxy.address()}, {"no_proxy", "elsewhere.test"}});
  site.point(t.app.settings());
  testing::write_config(t.app.settings().application_directory(),
                        {{"ServerURL", service.address("/request.php")}});
  ASSERT_TRUE(install_common_package(t.app));
  ASSERT_TRUE(log_in());
  EXPECT_TRUE(proxy.requests().empty());
}

TEST_F(BehindACompanyProxy, AProxyWantingCredentialsFailsTheInstallAndSaysWhy) {
  proxy.require("player", "s3cret");
  {
    ProxyEnvironment env({{"http_proxy", proxy.address()}});
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(install_common_package(t.app));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(t.app.settings().take_status(), (Status{401, "Err=401"}));
    EXPECT_NE(said.find("asks for credentials"), std::string::npos) << said;
    EXPECT_EQ(site.request_count(), 0u);
  }
  ProxyEnvironment env({{"http_proxy", proxy.address("player:s3cret")}});
  EXPECT_TRUE(install_common_package(t.app));
  EXPECT_EQ(t.dir.read("common/images/logo.png"), "common/images/logo.png");
}

}  // namespace
}  // namespace tarvel

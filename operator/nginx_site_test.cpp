// The nginx configuration the README gives operators, serving a published
// client to the launcher's own installers.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/settings_readers.hpp"
#include "operator/sample_client.hpp"
#include "tests/support/nginx.hpp"
#include "tests/support/test_app.hpp"
#include "update/common_package.hpp"
#include "update/download.hpp"
#include "update/game_package.hpp"

namespace tarvel {
namespace {

std::string operator_configuration() {
  std::ifstream in(std::string(TARVEL_SOURCE_DIR) + "/docs/nginx-tarvel.conf");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(OperatorNginx, ServesAPublishedClientToTheInstallers) {
  const std::string configuration = operator_configuration();
  ASSERT_FALSE(configuration.empty());
  testing::TempDir site;
  testing::Nginx nginx(site / kSampleTree, configuration);
  ASSERT_TRUE(nginx.running()) << nginx.error_log();
  PosixFiles files(site.path());
  std::vector<std::string> problems;
  ASSERT_TRUE(write_sample_client(files, site.path(), 2, nginx.url(), problems));

  testing::TestApp t;
  Settings& s = t.app.settings();
  apply_defaults(s);
  s.set_url(nginx.url("launcher/"));
  s.set_common_url(nginx.url("common/"));
  s.set_game_url(nginx.url("games/"));
  s.set_selected_language("en");
  s.set_game_language_address(nginx.url("games/language/en/"));
  ASSERT_TRUE(install_game_package(t.app, "login", "update", kSourceLauncherUrl));
  ASSERT_TRUE(install_common_package(t.app));
  ASSERT_TRUE(install_game_package(t.app, "slotmania", "common", kSourceGameUrl));
  ASSERT_TRUE(install_game_package(t.app, "slotmania", "", kSourceGameLanguage));

  const std::string www = std::string(kSampleTree) + "/";
  const std::pair<const char*, const char*> placed[] = {
      {"app-popup/login.swf", "launcher/login/login.swf"},
      {"app-popup/images/banner.png", "common/files/images/banner.png"},
      {"games/slotmania/images/table.png", "games/slotmania/images/table.png"},
      {"games/slotmania/images/bonus-2.png", "games/slotmania/images/bonus-2.png"},
      {"games/slotmania/language/en/strings.xml", "games/language/en/slotmania/strings.xml"},
  };
  for (const auto& [local, served] : placed) {
    EXPECT_EQ(t.dir.read(local), site.read(www + served)) << local;
  }
  // The publishing tool's state stays the operator's.
  EXPECT_TRUE(site.exists(www + "games/common_slotmania.state"));
  EXPECT_FALSE(download_file(t.app, nginx.url("games/common_slotmania.state"), "state"));
}

}  // namespace
}  // namespace tarvel

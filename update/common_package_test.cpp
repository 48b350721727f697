#include "update/common_package.hpp"

#include <gtest/gtest.h>

#include "core/settings_readers.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"

namespace tarvel {
namespace {

using testing::TestHttpServer;

constexpr const char* kInstallManifest =
    "$version-1.0\n"
    "COMMON/app-popup/login.swf,app-popup\\\n"
    "COMMON/app-popup/images/logo.png, app-popup\\images\\ \n"
    "GAMES/slot/a.swf,games\\slot\\\n"
    "shared/readme.txt,\n";

// The first block is what a client without any update already has.
constexpr const char* kUpdateManifest =
    "$version-1.0\n"
    "COMMON/app-popup/old.swf,app-popup\\\n"
    "$version-1.1\n"
    "COMMON/app-popup/login.swf,app-popup\\\n"
    "$version-1.2\n"
    "GAMES/slot/b.swf,games\\slot\\\n";

// A download server in its own folder and a launcher pointed at it.
struct CommonHarness {
  testing::TempDir site;
  TestHttpServer server{site.path()};
  testing::TestApp t;

  CommonHarness() {
    Settings& s = t.app.settings();
    s.set_url(server.url("launcher/"));
    s.set_common_url(server.url("common/"));
    s.set_game_url(server.url("games/"));
    s.set_common_install("common_install.xml");
    s.set_common_update("common_update.xml");
    site.write("common/common_install.xml", kInstallManifest);
    site.write("common/common_update.xml", kUpdateManifest);
    site.write("common/app-popup/login.swf", "login 1.0");
    site.write("common/app-popup/old.swf", "old");
    site.write("common/app-popup/images/logo.png", "logo image");
    site.write("games/slot/a.swf", "a");
    site.write("games/slot/b.swf", "b movie");
    site.write("launcher/shared/readme.txt", "readme");
  }

  std::vector<std::string> requested_since(std::size_t first) const {
    std::vector<std::string> paths;
    const auto all = server.requests();
    for (std::size_t i = first; i < all.size(); ++i) paths.push_back(all[i].path);
    return paths;
  }
  // A manifest, then the files it lists: in list order when fetched one at a
  // time, in any order otherwise.
  std::vector<std::string> as_requested(std::vector<std::string> paths) {
    return testing::in_arrival_order(t.app, std::move(paths), 1);
  }
};

TEST(InstallCommonPackage, InstallsThenAppliesTheWholeDeltaThenRestsWhenCurrent) {
  CommonHarness h;
  ASSERT_TRUE(install_common_package(h.t.app));
  EXPECT_EQ(h.as_requested(h.requested_since(0)),
            h.as_requested({"common/common_install.xml", "common/app-popup/login.swf",
                            "common/app-popup/images/logo.png", "games/slot/a.swf",
                            "launcher/shared/readme.txt"}));
  EXPECT_EQ(h.t.dir.read("app-popup/login.swf"), "login 1.0");
  EXPECT_EQ(h.t.dir.read("app-popup/images/logo.png"), "logo image");
  EXPECT_EQ(h.t.dir.read("games/slot/a.swf"), "a");
  EXPECT_EQ(h.t.dir.read("readme.txt"), "readme");
  EXPECT_EQ(h.t.dir.read("common_install.xml"), kInstallManifest);
  EXPECT_FALSE(h.t.dir.exists("temp_common_install.xml"));
  EXPECT_FALSE(h.t.dir.exists("common_update.xml"));
  EXPECT_EQ(h.t.app.settings().package_kind(), "common");
  EXPECT_EQ(h.t.app.settings().item_count(), 4);
  EXPECT_EQ(h.t.app.settings().item_index(), 4);

  // No update applied yet, so the installed label is "": the first line
  // counts as the installed header and everything after the next one comes.
  h.site.write("common/app-popup/login.swf", "login 1.1");
  std::size_t seen = h.server.requests().size();
  ASSERT_TRUE(install_common_package(h.t.app));
  EXPECT_EQ(h.as_requested(h.requested_since(seen)),
            h.as_requested(
                {"common/common_update.xml", "common/app-popup/login.swf", "games/slot/b.swf"}));
  EXPECT_EQ(h.t.dir.read("app-popup/login.swf"), "login 1.1");
  EXPECT_FALSE(h.t.dir.exists("app-popup/old.swf"));
  EXPECT_EQ(h.t.dir.read("common_update.xml"), kUpdateManifest);
  EXPECT_FALSE(h.t.dir.exists("temp_ver.xml"));
  EXPECT_EQ(h.t.app.settings().item_count(), 3) << "every line with a comma counts";

  seen = h.server.requests().size();
  ASSERT_TRUE(install_common_package(h.t.app));
  EXPECT_EQ(h.requested_since(seen), (std::vector<std::string>{"common/common_update.xml"}));
}

TEST(InstallCommonPackage, AFaultMidListConvergesOnTheNextRunAndManifestsAdvanceOnlyAfter) {
  CommonHarness h;
  h.server.set_fault("common/app-popup/images/logo.png", TestHttpServer::Fault::reset_mid_body);
  EXPECT_FALSE(install_common_package(h.t.app));
  if (testing::fetches_one_at_a_time(h.t.app)) {
    EXPECT_EQ(h.t.dir.read("app-popup/login.swf"), "login 1.0") << "fetched files stay";
    EXPECT_FALSE(h.t.dir.exists("games/slot/a.swf")) << "later entries are not fetched";
  }
  EXPECT_FALSE(h.t.dir.exists("app-popup/images/logo.png"));
  EXPECT_FALSE(h.t.dir.exists("common_install.xml"));
  EXPECT_TRUE(h.t.dir.exists("temp_common_install.xml"));
  EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"}));

  h.server.set_fault("common/app-popup/images/logo.png", TestHttpServer::Fault::none);
  ASSERT_TRUE(install_common_package(h.t.app));
  EXPECT_EQ(h.t.dir.read("app-popup/images/logo.png"), "logo image");
  EXPECT_EQ(h.t.dir.read("games/slot/a.swf"), "a");
  EXPECT_EQ(h.t.dir.read("readme.txt"), "readme");
  EXPECT_EQ(h.t.dir.read("common_install.xml"), kInstallManifest);
  EXPECT_FALSE(h.t.dir.exists("temp_common_install.xml"));

  h.server.set_fault("games/slot/b.swf", TestHttpServer::Fault::short_body);
  EXPECT_FALSE(install_common_package(h.t.app));
  EXPECT_FALSE(h.t.dir.exists("common_update.xml")) << "the installed version did not move";
  EXPECT_FALSE(h.t.dir.exists("games/slot/b.swf"));

  h.server.set_fault("games/slot/b.swf", TestHttpServer::Fault::none);
  ASSERT_TRUE(install_common_package(h.t.app));
  EXPECT_EQ(h.t.dir.read("games/slot/b.swf"), "b movie");
  EXPECT_EQ(h.t.dir.read("common_update.xml"), kUpdateManifest);
}

TEST(InstallCommonPackage, AMissingManifestFailsAndChangesNothingElse) {
  CommonHarness h;
  h.server.set_fault("common/common_install.xml", TestHttpServer::Fault::not_found);
  EXPECT_FALSE(install_common_package(h.t.app));
  EXPECT_TRUE(h.t.files.list("").empty());

  h.server.set_fault("common/common_install.xml", TestHttpServer::Fault::none);
  ASSERT_TRUE(install_common_package(h.t.app));
  h.t.dir.write("common_update.xml", "$version-1.1\n");
  h.server.set_fault("common/common_update.xml", TestHttpServer::Fault::server_error);
  EXPECT_FALSE(install_common_package(h.t.app));
  EXPECT_EQ(h.t.dir.read("common_update.xml"), "$version-1.1\n");
}

TEST(InstallCommonPackage, ManifestNamesThatLeaveTheFolderAreRefused) {
  CommonHarness h;
  h.t.app.settings().set_common_install("..\\escape.xml");
  EXPECT_FALSE(install_common_package(h.t.app));
  EXPECT_TRUE(h.server.requests().empty());
  EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"})) << "the player is told";

  h.t.app.settings().set_common_install("common_install.xml");
  ASSERT_TRUE(install_common_package(h.t.app));
  const std::size_t seen = h.server.requests().size();
  h.t.app.settings().set_common_update("sub/../../x.xml");
  (void)h.t.app.settings().take_status();
  EXPECT_FALSE(install_common_package(h.t.app));
  EXPECT_EQ(h.server.requests().size(), seen);
  EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"}));
}

// A line the launcher refuses fails the package: neither manifest is kept as
// a record of a version whose files did not all arrive.
TEST(InstallCommonPackage, ARefusedLineKeepsThePackageUninstalled) {
  CommonHarness h;
  h.site.write("common/common_install.xml",
               std::string(kInstallManifest) + "GAMES/slot/a.swf,games\\..\\..\\\n");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(install_common_package(h.t.app));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("games\\..\\..\\"), std::string::npos);
  EXPECT_FALSE(h.t.dir.exists("common_install.xml"));
  EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"}));

  h.site.write("common/common_install.xml", kInstallManifest);
  ASSERT_TRUE(install_common_package(h.t.app));
  h.site.write("common/common_update.xml",
               std::string(kUpdateManifest) + "$version-1.3\nCOMMON/x.swf,/etc\\\n");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(install_common_package(h.t.app));
  (void)::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(h.t.dir.exists("common_update.xml")) << "the installed version did not move";
  EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"}));
}

// The settings reader empties every key the file does not name.
TEST(InstallCommonPackage, ASetupWithoutAnUpdateNameStillInstallsTheFirstTime) {
  CommonHarness h;
  h.t.dir.write("setup.xml", "url=" + h.server.url("launcher/") + "\ncommon_url=" +
                                 h.server.url("common/") + "\ngame_url=" + h.server.url("games/") +
                                 "\ncommon_install=common_install.xml\n");
  read_settings_file(h.t.app);
  ASSERT_EQ(h.t.app.settings().common_update(), "");
  ASSERT_TRUE(install_common_package(h.t.app));
  EXPECT_EQ(h.t.dir.read("common_install.xml"), kInstallManifest);
  EXPECT_EQ(h.t.dir.read("readme.txt"), "readme");

  // An update has no name to fetch or keep: it fails before asking for anything.
  const std::size_t seen = h.server.requests().size();
  (void)h.t.app.settings().take_status();
  EXPECT_FALSE(install_common_package(h.t.app));
  EXPECT_EQ(h.server.requests().size(), seen);
  EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"}));
}

// A folder stands where a manifest is to be kept: every file arrives, but the
// manifest cannot take its name, and the screens must hear of the failure.
TEST(InstallCommonPackage, AManifestThatCannotTakeItsNameFailsWithAStatus) {
  CommonHarness h;
  ASSERT_TRUE(h.t.files.create_directory("common_install.xml"));
  EXPECT_FALSE(install_common_package(h.t.app));
  EXPECT_EQ(h.t.dir.read("readme.txt"), "readme");
  EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"}));

  CommonHarness updated;
  ASSERT_TRUE(install_common_package(updated.t.app));
  ASSERT_TRUE(updated.t.files.create_directory("common_update.xml"));
  EXPECT_FALSE(install_common_package(updated.t.app));
  EXPECT_EQ(updated.t.dir.read("games/slot/b.swf"), "b movie");
  EXPECT_EQ(updated.t.app.settings().take_status(), (Status{401, "Err=401"}));
}

}  // namespace
}  // namespace tarvel

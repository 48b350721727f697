#include "update/game_package.hpp"

#include <gtest/gtest.h>

#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"

namespace tarvel {
namespace {

using testing::TestHttpServer;

TEST(PackageStatusDecision, MandatoryLabelOutranksVersionLabelAndAppliedCountsAsDone) {
  struct Case {
    const char* installed;
    const char* installed_m;
    const char* applied;
    const char* applied_m;
    const char* server;
    const char* server_m;
    const char* expected;
  };
  const Case cases[] = {
      // Version label only.
      {"$version-1.0", "", "", "", "$version-1.0", "", "uptodate"},
      {"$version-1.0", "", "", "", "$version-1.1", "", "update"},
      {"$version-1.0", "", "$version-1.2", "", "$version-1.2", "", "uptodate"},
      {"$version-1.0", "", "$version-1.2", "", "$version-1.3", "", "update"},
      // A changed mandatory label decides alone, whatever the version labels say.
      {"$version-1.0", "$versionm-1", "", "", "$versionm-2", "$versionm-2", "mupdate"},
      {"$versionm-1", "$versionm-1", "$versionm-2", "$versionm-2", "$versionm-2", "$versionm-2",
       "uptodate"},
      {"$version-1.0", "$versionm-1", "", "$versionm-2", "$version-1.5", "$versionm-2", "uptodate"},
      // A server that dropped its mandatory header matches a client that never
      // applied one, so the mandatory comparison settles it, new version or not.
      {"$version-1.0", "$versionm-1", "", "", "$version-1.1", "", "uptodate"},
      // Labels are opaque: no ordering, exact bytes.
      {"$version-1.10", "", "", "", "$version-1.1", "", "update"},
      {"$version-1.0", "", "", "", "$version-1.0 ", "", "update"},
  };
  for (const Case& c : cases) {
    PackageLabels labels;
    labels.installed = c.installed, labels.installed_mandatory = c.installed_m;
    labels.applied = c.applied, labels.applied_mandatory = c.applied_m;
    labels.server = c.server, labels.server_mandatory = c.server_m;
    EXPECT_STREQ(decide_package_status(labels), c.expected)
        << c.installed << " " << c.applied << " " << c.server << " " << c.server_m;
    labels.server_reached = false;
    EXPECT_STREQ(decide_package_status(labels), "uptodate") << "nothing known from the server";
  }
}

// A download server with a folder per base address and a launcher pointed at it.
struct GameHarness {
  testing::TempDir site;
  TestHttpServer server{site.path()};
  testing::TestApp t;

  GameHarness() {
    Settings& s = t.app.settings();
    s.set_url(server.url("launcher/"));
    s.set_common_url(server.url("common/"));
    s.set_game_url(server.url("games/"));
    s.set_game_language_address(server.url("lang/games/"));
    s.set_common_language_address(server.url("lang/common/"));
    s.set_selected_language("en");
  }

  std::vector<std::string> requested() const {
    std::vector<std::string> paths;
    for (const auto& r : server.requests()) paths.push_back(r.path);
    return paths;
  }
};

TEST(PackageBaseAddress, FiveSourcesByCode) {
  GameHarness h;
  EXPECT_EQ(package_base_address(h.t.app, 302), h.server.url("common/"));
  EXPECT_EQ(package_base_address(h.t.app, 303), h.server.url("games/"));
  EXPECT_EQ(package_base_address(h.t.app, 304), h.server.url("lang/games/"));
  EXPECT_EQ(package_base_address(h.t.app, 305), h.server.url("lang/common/"));
  for (int other : {301, 0, -1, 306, 999}) {
    EXPECT_EQ(package_base_address(h.t.app, other), h.server.url("launcher/")) << other;
  }
}

TEST(InstallGamePackage, FirstInstallFromTheSourceBaseLeavesTheManifestUnderItsName) {
  GameHarness h;
  h.site.write("games/common_slot_install.xml", "$version-1.0\nGAMES/slot/a.swf,games\\slot\\\n");
  h.site.write("games/slot/a.swf", "a");
  ASSERT_TRUE(install_game_package(h.t.app, "slot", "common", 303));
  EXPECT_EQ(h.requested(),
            (std::vector<std::string>{"games/common_slot_install.xml", "games/slot/a.swf"}));
  EXPECT_EQ(h.t.dir.read("games/slot/a.swf"), "a");
  EXPECT_TRUE(h.t.dir.exists("common_slot_install.xml"));
  EXPECT_FALSE(h.t.dir.exists("temp_common_slot_install.xml"));

  // The login package: names from group "update", manifests from url.
  h.site.write("launcher/update_login_install.xml", "$version-1.0\nlogin/login.swf,\n");
  h.site.write("launcher/login/login.swf", "login");
  ASSERT_TRUE(install_game_package(h.t.app, "login", "update", 301));
  EXPECT_EQ(h.t.dir.read("login.swf"), "login");
  EXPECT_TRUE(h.t.dir.exists("update_login_install.xml"));

  // An empty group stands for the selected language; names are normalised.
  h.site.write("lang/common/en_video_poker_install.xml", "$version-1.0\n");
  ASSERT_TRUE(install_game_package(h.t.app, "Video Poker", "", 305));
  EXPECT_TRUE(h.t.dir.exists("en_video_poker_install.xml"));
}

TEST(InstallGamePackage, FirstInstallFailuresMoveNothing) {
  GameHarness h;
  EXPECT_FALSE(install_game_package(h.t.app, "slot", "common", 303));
  h.site.write("games/common_slot_install.xml",
               "$version-1.0\nGAMES/slot/a.swf,games\\slot\\\nGAMES/slot/b.swf,games\\slot\\\n");
  h.site.write("games/slot/a.swf", "a");
  EXPECT_FALSE(install_game_package(h.t.app, "slot", "common", 303)) << "b.swf is missing";
  EXPECT_FALSE(h.t.dir.exists("common_slot_install.xml"));
  h.site.write("games/slot/b.swf", "b");
  ASSERT_TRUE(install_game_package(h.t.app, "slot", "common", 303));
  EXPECT_TRUE(h.t.dir.exists("common_slot_install.xml"));
}

TEST(InstallGamePackage, UpdatesFetchWhatFollowsTheVersionLastApplied) {
  GameHarness h;
  h.t.dir.write("common_slot_install.xml", "$version-1.0\n");
  // Not on the server: the package counts as current and nothing changes.
  EXPECT_TRUE(install_game_package(h.t.app, "slot", "common", 303));
  EXPECT_FALSE(h.t.dir.exists("common_slot_update.xml"));

  const std::string update =
      "$version-1.0\n$version-1.1\nGAMES/slot/a.swf,games\\slot\\\n"
      "$version-1.2\nGAMES/slot/b.swf,games\\slot\\\n";
  h.site.write("games/common_slot_update.xml", update);
  h.site.write("games/slot/a.swf", "a");
  h.server.set_fault("games/slot/b.swf", TestHttpServer::Fault::not_found);
  EXPECT_FALSE(install_game_package(h.t.app, "slot", "common", 303));
  EXPECT_FALSE(h.t.dir.exists("common_slot_update.xml")) << "not advanced after a failure";

  h.site.write("games/slot/b.swf", "b");
  h.server.set_fault("games/slot/b.swf", TestHttpServer::Fault::none);
  ASSERT_TRUE(install_game_package(h.t.app, "slot", "common", 303));
  EXPECT_EQ(h.t.dir.read("common_slot_update.xml"), update);
  EXPECT_EQ(h.t.dir.read("games/slot/b.swf"), "b");
  EXPECT_FALSE(h.t.dir.exists("temp_ver.xml"));

  // Once an update is applied, the next one starts from its version.
  const std::size_t seen = h.server.requests().size();
  ASSERT_TRUE(install_game_package(h.t.app, "slot", "common", 303));
  EXPECT_EQ(h.server.requests().size() - seen, 1u) << "the update manifest alone";
}

// An installed version that the server's history no longer lists (or that
// only shares a prefix with one): no delta can bring the tree up to date, so
// the whole package comes again and both records advance.
TEST(InstallGamePackage, AnInstalledVersionTheHistoryDoesNotKnowInstallsTheWholePackage) {
  for (const char* installed : {"$version-0.9", "$version-1.1"}) {
    GameHarness h;
    h.t.dir.write("common_slot_install.xml",
                  std::string(installed) + "\nGAMES/slot/old.swf,games\\slot\\\n");
    // An update applied once whose version the history does not know either.
    h.t.dir.write("common_slot_update.xml", "$version-1.1\n");
    const std::string install =
        "$version-1.2\nGAMES/slot/a.swf,games\\slot\\\nGAMES/slot/b.swf,games\\slot\\\n";
    const std::string update =
        "$version-1.0\n$version-1.10\nGAMES/slot/a.swf,games\\slot\\\n"
        "$version-1.2\nGAMES/slot/b.swf,games\\slot\\\n";
    h.site.write("games/common_slot_install.xml", install);
    h.site.write("games/common_slot_update.xml", update);
    h.site.write("games/slot/a.swf", "a");
    h.site.write("games/slot/b.swf", "b");
    ASSERT_TRUE(install_game_package(h.t.app, "slot", "common", 303)) << installed;
    const std::vector<std::string> expected{"games/common_slot_update.xml",
                                            "games/common_slot_install.xml", "games/slot/a.swf",
                                            "games/slot/b.swf"};
    EXPECT_EQ(testing::in_arrival_order(h.t.app, h.requested(), 2),
              testing::in_arrival_order(h.t.app, expected, 2))
        << installed;
    EXPECT_EQ(h.t.dir.read("games/slot/a.swf"), "a");
    EXPECT_EQ(h.t.dir.read("common_slot_install.xml"), install);
    EXPECT_EQ(h.t.dir.read("common_slot_update.xml"), update);
    EXPECT_EQ(game_package_status(h.t.app, "common", "slot", 303), "uptodate");
  }
}

TEST(InstallGamePackage, AFailedWholeInstallAdvancesNeitherRecord) {
  GameHarness h;
  h.t.dir.write("common_slot_install.xml", "$version-0.9\n");
  h.site.write("games/common_slot_install.xml", "$version-1.2\nGAMES/slot/a.swf,games\\slot\\\n");
  h.site.write("games/common_slot_update.xml", "$version-1.0\n$version-1.2\n");
  EXPECT_FALSE(install_game_package(h.t.app, "slot", "common", 303)) << "a.swf is missing";
  EXPECT_EQ(h.t.dir.read("common_slot_install.xml"), "$version-0.9\n");
  EXPECT_FALSE(h.t.dir.exists("common_slot_update.xml"));
  EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"}));
}

TEST(InstallGamePackage, PackageNamesThatLeaveTheFolderFetchNothing) {
  GameHarness h;
  ASSERT_TRUE(h.t.files.create_directory("common_a"));
  for (const char* name : {"a\\..\\..\\evil", "a/../../evil", "c:evil"}) {
    EXPECT_FALSE(install_game_package(h.t.app, name, "common", 303)) << name;
    EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"})) << name;
    EXPECT_EQ(game_package_status(h.t.app, "common", name, 303), "install") << name;
  }
  EXPECT_TRUE(h.server.requests().empty());
}

// A folder stands where a manifest is to be kept: every file arrives, but the
// manifest cannot take its name, and the screens must hear of the failure.
TEST(InstallGamePackage, AManifestThatCannotTakeItsNameFailsWithAStatus) {
  GameHarness h;
  h.site.write("games/common_slot_install.xml", "$version-1.0\nGAMES/slot/a.swf,games\\slot\\\n");
  h.site.write("games/slot/a.swf", "a");
  ASSERT_TRUE(h.t.files.create_directory("common_slot_install.xml"));
  EXPECT_FALSE(install_game_package(h.t.app, "slot", "common", 303));
  EXPECT_EQ(h.t.dir.read("games/slot/a.swf"), "a");
  EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"}));

  GameHarness updated;
  updated.t.dir.write("common_slot_install.xml", "$version-1.0\n");
  updated.site.write("games/common_slot_update.xml",
                     "$version-1.0\n$version-1.1\nGAMES/slot/b.swf,games\\slot\\\n");
  updated.site.write("games/slot/b.swf", "b");
  ASSERT_TRUE(updated.t.files.create_directory("common_slot_update.xml"));
  EXPECT_FALSE(install_game_package(updated.t.app, "slot", "common", 303));
  EXPECT_EQ(updated.t.dir.read("games/slot/b.swf"), "b");
  EXPECT_EQ(updated.t.app.settings().take_status(), (Status{401, "Err=401"}));
}

struct StatusHarness : GameHarness {
  std::string status() { return game_package_status(t.app, "common", "slot", 303); }
};

TEST(GamePackageStatus, NotInstalledAsksForNothing) {
  StatusHarness h;
  EXPECT_EQ(h.status(), "install");
  EXPECT_TRUE(h.server.requests().empty());
}

// The decision itself is tabled above; here the labels come from the right files.
TEST(GamePackageStatus, ReadsInstalledAppliedAndFetchedLabels) {
  StatusHarness h;
  h.t.dir.write("common_slot_install.xml", "$versionm-1\n$version-1.0\nx/a.swf,f\\\n");
  h.site.write("games/common_slot_update.xml", "$versionm-1\n$version-1.1\n");
  EXPECT_EQ(h.status(), "update");
  EXPECT_EQ(h.t.dir.read("tmp_common_slot_update.xml"), "$versionm-1\n$version-1.1\n");
  h.t.dir.write("common_slot_update.xml", "$versionm-1\n$version-1.1\n");
  EXPECT_EQ(h.status(), "uptodate");
  h.site.write("games/common_slot_update.xml", "$versionm-2\n$version-1.1\n");
  EXPECT_EQ(h.status(), "mupdate");
}

TEST(GamePackageStatus, AnUnreachableServerNeverAsksForAnUpdate) {
  StatusHarness h;
  h.t.dir.write("common_slot_install.xml", "$versionm-1\n$version-1.0\n");
  h.t.dir.write("tmp_common_slot_update.xml", "$versionm-9\n");
  h.server.set_fault("games/common_slot_update.xml", TestHttpServer::Fault::server_error);
  EXPECT_EQ(h.status(), "uptodate");
  EXPECT_FALSE(h.t.dir.exists("tmp_common_slot_update.xml")) << "a stale copy is not kept";

  h.t.dir.write("common_slot_update.xml", "$versionm-2\n$version-1.2\n");
  EXPECT_EQ(h.status(), "uptodate");

  // Nothing listens on the port at all: the connection is refused.
  testing::RefusingAddress refusing;
  h.t.app.settings().set_game_url(refusing.address() + "/");
  EXPECT_EQ(h.status(), "uptodate");
  EXPECT_EQ(h.t.app.settings().take_status(), (Status{401, "Err=401"}));
}

}  // namespace
}  // namespace tarvel

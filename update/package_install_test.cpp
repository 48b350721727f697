#include "update/package_install.hpp"

#include <gtest/gtest.h>

#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/game_package.hpp"

namespace tarvel {
namespace {

using testing::TestHttpServer;

// An installed game at 1.0 and the server's 1.1, which changes both its
// files, with sums.
struct UpdatedGame {
  UpdatedGame() {
    t.app.settings().set_game_url(server.url("games/"));
    t.app.settings().set_url(server.url("launcher/"));
    t.dir.write("common_slot_install.xml", "$version-1.0\nGAMES/slot/a.swf,games\\slot\\\n");
    t.dir.write("games/slot/a.swf", "a 1.0");
    t.dir.write("games/slot/b.swf", "b 1.0");
    const std::string manifest =
        "$version-1.0\n$version-1.1\nGAMES/slot/a.swf,games\\slot\\\n"
        "GAMES/slot/b.swf,games\\slot\\\n" +
        std::string(kSumsAnnouncement) + "\n";
    Sums sums{.package = "common_slot_install.xml",
              .manifest_sha256 = sha256_hex(manifest),
              .version = "$version-1.1",
              .serial = 2,
              .files = {}};
    for (const auto& [name, contents] : {std::pair{"a.swf", a}, std::pair{"b.swf", b}}) {
      site.write(std::string("games/slot/") + name, contents);
      sums.files[std::string("GAMES/slot/") + name] = {sha256_hex(contents), contents.size()};
    }
    site.write("games/common_slot_update.xml", manifest);
    site.write("games/common_slot_update.xml.sums", sums_text(sums));
  }
  bool install() { return install_game_package(t.app, "slot", "common", kSourceGameUrl); }
  std::vector<std::string> requested_since(std::size_t first) const {
    std::vector<std::string> paths;
    const auto all = server.requests();
    for (std::size_t i = first; i < all.size(); ++i) paths.push_back(all[i].path);
    return paths;
  }

  const std::string a = "a 1.1";
  const std::string b = std::string(100 * 1024, 'b');
  testing::TempDir site;
  TestHttpServer server{site.path()};
  testing::TestApp t;
};

// A file unlike its sum keeps the whole package at 1.0 (it is tried again
// a few times, so the other one has long arrived); what did come waits,
// checked, and the next attempt fetches only the rest.
TEST(PackageInstall, AFailedUpdateChangesNothingAndTheNextAttemptFetchesOnlyWhatIsMissing) {
  UpdatedGame g;
  g.site.write("games/slot/b.swf", "not as its sum says");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(g.install());
  (void)::testing::internal::GetCapturedStderr();
  EXPECT_EQ(g.t.app.settings().take_status(), (Status{401, "Err=401"}));
  EXPECT_EQ(g.t.dir.read("games/slot/a.swf"), "a 1.0");
  EXPECT_EQ(g.t.dir.read("games/slot/b.swf"), "b 1.0");
  EXPECT_FALSE(g.t.dir.exists("common_slot_update.xml")) << "the label did not move";
  EXPECT_FALSE(g.t.dir.exists("common_slot_install.xml.installed"));

  g.site.write("games/slot/b.swf", g.b);
  const std::size_t seen = g.server.requests().size();
  ASSERT_TRUE(g.install());
  EXPECT_EQ(g.requested_since(seen),
            (std::vector<std::string>{"games/common_slot_update.xml",
                                      "games/common_slot_update.xml.sums", "games/slot/b.swf"}));
  EXPECT_EQ(g.t.dir.read("games/slot/a.swf"), g.a);
  EXPECT_EQ(g.t.dir.read("games/slot/b.swf"), g.b);
  EXPECT_EQ(g.t.dir.read("common_slot_update.xml"), g.site.read("games/common_slot_update.xml"));
  EXPECT_EQ(testing::names_in(g.t.dir / "games/slot"), (std::vector<std::string>{"a.swf", "b.swf"}))
      << "nothing staged is left";
}

}  // namespace
}  // namespace tarvel

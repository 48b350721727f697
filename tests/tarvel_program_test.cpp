// The built launcher run as a player starts it: from its application
// directory, against a download server and a request service on 127.0.0.1,
// with movie scripts for movies. What it printed is its transcript.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "operator/package_release.hpp"
#include "platform/posix/posix_files.hpp"
#include "tests/support/launcher_process.hpp"
#include "tests/support/package_site.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "tests/support/whole_road.hpp"
#include "update/game_package.hpp"

namespace tarvel {
namespace {

// Longer than any run here takes; a launcher that hangs is killed then.
constexpr int kRunLimitSeconds = 30;

struct LauncherRun {
  int exit_code = -1;
  std::string transcript;
};

// Starts the launcher in directory (with the one argument, if any) and waits
// for it to end.
LauncherRun run_launcher(const std::string& directory, const testing::TempDir& scratch,
                         const std::string& argument = {}) {
  const std::string runtime = scratch / "run";
  ::mkdir(runtime.c_str(), 0700);
  // XDG_RUNTIME_DIR holds the single-instance lock: one per run, so runs in
  // parallel never meet.
  testing::LauncherProcess launcher(
      TARVEL_LOOPBACK_PROGRAM, directory, {"XDG_RUNTIME_DIR=" + runtime}, kRunLimitSeconds,
      argument.empty() ? std::vector<std::string>{} : std::vector<std::string>{argument});
  LauncherRun run;
  run.exit_code = launcher.wait_exit();
  run.transcript = launcher.transcript();
  return run;
}

// A fresh client folder for a launcher whose version is $version-1.1, a
// download server whose login package brings the login movie, and a request
// service that accepts the login.
struct Installation {
  Installation() {
    service.answer({200, testing::login_answer("0", testing::kTicketedRest), {}});
    site.write("client/setup.xml", "url=x\nversion=$version-1.1\n");
    site.write("client/update_login_install.xml", "$version-1.0\nlogin/login.swf,app-popup\\\n");
    site.write("client/login/login.swf", "prefix lang= -> call validate player secret en\n");
    app.write("setup.xml",
              "url=" + server.url("client/") + "\nexe_name=tarvel\nversion=$version-1.1\n");
    app.write("Config.xml", "<?xml version=\"1.0\"?>\n<Config>\n  <ServerURL>\n    " +
                                service.address("/svc/request.php") +
                                "\n  </ServerURL>\n  <LoginFormText>Tarvel Casino</LoginFormText>\n"
                                "  <Languages>English</Languages>\n</Config>\n");
    app.write("app-popup/abb_language.xml",
              "<lang_menu>\n<menu name=\"en\" lang=\"language/en\">English</menu>\n</lang_menu>\n");
    // A failure ends the run at once rather than waiting for a player.
    app.write("app-popup/checkUpdate.swf", "prefix Err= -> command exit\n");
    app.write("app-popup/transfer.swf", "prefix lang= -> command exit\n");
  }

  testing::TempDir site;
  testing::TestHttpServer server{site.path()};
  testing::RequestServiceDouble service;
  testing::TempDir app;
  testing::TempDir scratch;
};

TEST(TarvelProgram, FirstRunChecksForUpdatesLogsInAndMovesOnToTheInstallation) {
  Installation i;
  const LauncherRun run = run_launcher(i.app.path(), i.scratch);

  EXPECT_EQ(run.exit_code, 0) << run.transcript;
  EXPECT_TRUE(testing::in_order(
      run.transcript,
      {
          "Update#1 movie load layer 0 \"" + i.app.path() + "/\\\\app-popup\\\\checkUpdate.swf\"",
          "Update#1 received \"lang=en\"",
          "CCorvaneDlg#2 window created",
          "Update#1 window destroyed",
          "CCorvaneDlg#2 received \"lang=en\"",
          "CCorvaneDlg#2 call \"<invoke name=\\\"validate\\\"",
          "TransferringForm#3 window created",
          "CCorvaneDlg#2 window destroyed",
          "TransferringForm#3 command \"exit\"",
          "Update#1 window modal loop returned",
          "window no main window",
      }));
  EXPECT_EQ(run.transcript.find("Err="), std::string::npos) << run.transcript;
  const auto posts = i.service.received();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_NE(posts[0].body.find("<properties name=\"username\">player</properties>"),
            std::string::npos);
  EXPECT_EQ(i.app.read("app-popup/login.swf"), "prefix lang= -> call validate player secret en\n");
  EXPECT_TRUE(i.app.exists("update_login_install.xml"));
}

TEST(TarvelProgram, ALauncherReleaseClosesTheUpdateCheckAndTheProcessEnds) {
  Installation i;
  i.site.write("client/setup.xml", "url=x\nversion=$version-1.2\nversion_type=exe\n");
  i.site.write("client/tarvel", "the new launcher");
  i.site.write("client/Config.xml", "<Config><LoginFormText>New</LoginFormText></Config>");
  const LauncherRun run = run_launcher(i.app.path(), i.scratch);

  EXPECT_EQ(run.exit_code, 0) << run.transcript;
  EXPECT_TRUE(testing::in_order(run.transcript, {
                                                    "Update#1 received \"lang=en\"",
                                                    "message-box \"Please Run the Application "
                                                    "again...New Updates Installed\" \"Message\"",
                                                    "Update#1 window destroyed",
                                                    "window no main window",
                                                }));
  EXPECT_EQ(run.transcript.find("CCorvaneDlg"), std::string::npos) << run.transcript;
  EXPECT_TRUE(i.service.received().empty());
  EXPECT_EQ(i.app.read("tarvel"), "the new launcher");
  EXPECT_EQ(i.app.read("setup.xml"), "url=x\nversion=$version-1.2\nversion_type=exe\n");
  EXPECT_TRUE(i.app.exists("update_login_install.xml")) << "the login package came all the same";
}

TEST(TarvelProgram, TheWholeRoadThenASecondRunFindsEverythingCurrent) {
  testing::WholeRoad w;
  const LauncherRun first = run_launcher(w.app.path(), w.scratch);
  EXPECT_EQ(first.exit_code, 0) << first.transcript;
  EXPECT_TRUE(testing::in_order(
      first.transcript, {
                            "Update#1 window shown modally",
                            "CCorvaneDlg#2 call \"<invoke name=\\\"validate\\\"",
                            "TransferringForm#3 window shown modally",
                            "IndexForm#4 window made the main window",
                            "TransferringForm#3 window destroyed",
                            "IndexForm#4 received \"status205==<![CDATA[<request>",
                            "IndexForm#4 received \"game_status==<![CDATA[<main>"
                            "<game type=\\\"slot\\\" version=\\\"install\\\"></game>\\x0A"
                            "<game type=\\\"poker\\\" version=\\\"install\\\"></game>\\x0A"
                            "<lang install=\\\"en\\\"></lang>\\x0A</main>]]>\"",
                            "IndexForm#4 command \"game_slot\"",
                            "TransferringForm#5 window shown modeless, owned by #4",
                            "IndexForm#4 received \"game_install==<![CDATA[<main>"
                            "<game type=\\\"slot\\\" version=\\\"uptodate\\\"></game>\\x0A",
                            "IndexForm#4 command \"cashier\"",
                            "HtmlBrowser#6 browser navigate "
                            "http://127.0.0.1:1/cashier?ticket=A1B2&username=player&lang_code=en",
                            "IndexForm#4 command \"exit\"",
                            "IndexForm#4 window destroyed",
                            "Update#1 window modal loop returned",
                        }));
  EXPECT_EQ(first.transcript.find("Err="), std::string::npos) << first.transcript;
  for (const char* file :
       {"app-popup/login.swf", "index.swf", "app-popup/lobby.png", "app-popup/en/strings.txt",
        "casino/table.txt", "games/slot/slot.swf", "games/slot/en/slot.txt", "common_install.xml",
        "en_common_install.xml", "common_casino_install.xml", "common_slot_install.xml",
        "en_slot_install.xml"}) {
    EXPECT_TRUE(w.app.exists(file)) << file;
  }
  EXPECT_FALSE(w.app.exists("common_poker_install.xml"));
  const auto posts = w.service.received();
  ASSERT_EQ(posts.size(), 2u) << "a login, then a transfer";
  EXPECT_NE(posts[1].body.find("action = \"transfer\""), std::string::npos);

  // Everything is current: only manifests are asked for, no package file.
  const std::size_t before = w.site.request_count();
  const LauncherRun second = run_launcher(w.app.path(), w.scratch);
  EXPECT_EQ(second.exit_code, 0) << second.transcript;
  EXPECT_TRUE(testing::in_order(second.transcript,
                                {"IndexForm#4 received \"game_status==<![CDATA[<main>"
                                 "<game type=\\\"slot\\\" version=\\\"uptodate\\\"></game>",
                                 "HtmlBrowser#6 browser navigate"}));
  for (const std::string& path : w.site.requested(before)) {
    EXPECT_TRUE(path.ends_with(".xml")) << "fetched again: " << path;
  }
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// A package published with its sums and installed: what --verify and
// --repair work on.
TEST(TarvelProgram, VerifyReportsWhatBrokeAndRepairFetchesOnlyThat) {
  testing::TempDir site;
  testing::TestHttpServer server(site.path());
  site.write("games/slot/slot.swf", "movie");
  site.write("games/slot/images/table.png", std::string(100000, 't'));
  PosixFiles site_files(site.path());
  ASSERT_TRUE(publish_package(site_files, {.group = "common",
                                           .package = "slot",
                                           .version = "1.0",
                                           .mandatory = "",
                                           .source = "GAMES/slot/",
                                           .target = "games\\slot\\",
                                           .package_dir = site / "games/slot",
                                           .out_dir = site / "games"})
                  .ok());
  testing::TestApp t;
  t.app.settings().set_game_url(server.url("games/"));
  t.dir.write("setup.xml", "game_url=" + server.url("games/") + "\n");
  ASSERT_TRUE(install_game_package(t.app, "slot", "common", kSourceGameUrl));
  testing::TempDir scratch;

  const LauncherRun clean = run_launcher(t.dir.path(), scratch, "--verify");
  EXPECT_EQ(clean.exit_code, 0) << clean.transcript;
  EXPECT_NE(clean.transcript.find("checked 2 files (100005 bytes) of 1 package: all as installed"),
            std::string::npos)
      << clean.transcript;

  ASSERT_EQ(std::remove((t.dir / "games/slot/slot.swf").c_str()), 0);
  const std::size_t before = server.requests().size();
  const LauncherRun broken = run_launcher(t.dir.path(), scratch, "--verify");
  EXPECT_EQ(broken.exit_code, 1);
  EXPECT_TRUE(testing::in_order(broken.transcript,
                       {"missing: games\\slot\\slot.swf", "a repair fetches 1 file, 5 bytes"}))
      << broken.transcript;

  const LauncherRun repair = run_launcher(t.dir.path(), scratch, "--repair");
  EXPECT_EQ(repair.exit_code, 0) << repair.transcript;
  EXPECT_NE(repair.transcript.find("repaired 1 of 1 file"), std::string::npos);
  EXPECT_EQ(t.dir.read("games/slot/slot.swf"), "movie");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), before + 1) << "only the broken file";
  EXPECT_EQ(requests.back().path, "games/slot/slot.swf");
}

}  // namespace
}  // namespace tarvel

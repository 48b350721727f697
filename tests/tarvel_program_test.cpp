// The built launcher run as a player starts it: from its application
// directory, against a download server and a request service on 127.0.0.1,
// with movie scripts for movies. What it printed is its transcript.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "operator/package_release.hpp"
#include "platform/posix/posix_files.hpp"
#include "tests/support/package_site.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/game_package.hpp"

namespace tarvel {
namespace {

// Longer than any run here takes; a launcher that hangs is killed then.
constexpr const char* kRunLimitSeconds = "30";

struct LauncherRun {
  int exit_code = -1;
  std::string transcript;
};

// Starts the launcher in directory (with the one argument, if any), waits
// for it to end and reads what it printed.
LauncherRun run_launcher(const std::string& directory, const testing::TempDir& scratch,
                         std::string argument = {}) {
  const std::string runtime = scratch / "run";
  ::mkdir(runtime.c_str(), 0700);
  const std::string output = scratch / "transcript.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // XDG_RUNTIME_DIR holds the single-instance lock: one per run, so runs in
  // parallel never meet.
  std::string lock_folder = "XDG_RUNTIME_DIR=" + runtime;
  char* envp[] = {lock_folder.data(), nullptr};
  std::string timeout = "timeout";
  std::string limit = kRunLimitSeconds;
  std::string program = TARVEL_LOOPBACK_PROGRAM;
  char* argv[] = {timeout.data(), limit.data(), program.data(),
                  argument.empty() ? nullptr : argument.data(), nullptr};
  pid_t pid = 0;
  LauncherRun run;
  if (::posix_spawnp(&pid, "timeout", &actions, nullptr, argv, envp) == 0) {
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.transcript = scratch.read("transcript.txt");
  return run;
}

// Whether the lines appear in the text in this order.
::testing::AssertionResult in_order(const std::string& text,
                                    const std::vector<std::string>& lines) {
  std::size_t at = 0;
  for (const std::string& line : lines) {
    const auto found = text.find(line, at);
    if (found == std::string::npos) {
      return ::testing::AssertionFailure() << "missing, or out of order: " << line << "\n" << text;
    }
    at = found + line.size();
  }
  return ::testing::AssertionSuccess();
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
  EXPECT_TRUE(in_order(run.transcript, {
                                           "Update#1 movie load layer 0 \"" + i.app.path() +
                                               "/\\\\app-popup\\\\checkUpdate.swf\"",
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
  EXPECT_TRUE(in_order(run.transcript, {
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

// The whole road of a run. The site as an operator stages it: the launcher's
// settings copy and login package, the common package with the lobby movie,
// the casino, and one game ("slot") in English; the lobby also lists "poker",
// which is not staged.
struct WholeRoad {
  WholeRoad() {
    service.answer({200, testing::login_answer("0", testing::kTicketedRest), {}});
    stage();
    app.write("setup.xml", "url=" + site.server.url() +
                               "\ncommon_url=" + site.server.url("common/") +
                               "\ngame_url=" + site.server.url("games/") +
                               "\ncommon_install=common_install.xml"
                               "\ncommon_update=common_update.xml"
                               "\nversion=$version-1.1\nexe_name=tarvel\n");
    testing::write_config(app.path() + "/", {{"ServerURL", service.address()},
                                             {"Key", "k"},
                                             {"Languages", "English"},
                                             {"linkLabel", "slot,poker"},
                                             {"CashierUrl", "http://127.0.0.1:1/cashier?"},
                                             {"AutoLogin", "true"},
                                             {"LoginFormText", "Tarvel"}});
    app.write("app-popup/abb_language.xml",
              "<lang_menu>\n<menu name=\"en\" lang=\"language/en\">English</menu>\n</lang_menu>\n");
    // A failure ends the run at once rather than waiting for a player.
    app.write("app-popup/transfer.swf", "prefix Err= -> command exit\n");
  }

  void stage() {
    site.write("setup.xml", "version=$version-1.1\n");
    package("", "update_login", {"movies/login.swf,app-popup\\"});
    site.write("movies/login.swf", "prefix lang= -> call validate player secret en\n");
    package("common/", "common",
            {"COMMON/movies/index.swf,", "COMMON/images/lobby.png,app-popup\\"});
    site.write("common/movies/index.swf",
               "prefix game_status== -> command game_slot\n"
               "prefix game_install== -> command cashier\n"
               "prefix game_install== -> command exit\n");
    site.write("common/images/lobby.png", "png");
    package("common/language/en/", "en_common", {"COMMON/language/en/strings.txt,app-popup\\en\\"});
    site.write("common/language/en/strings.txt", "hello");
    package("", "common_casino", {"casino/table.txt,casino\\"});
    site.write("casino/table.txt", "table");
    package("games/", "common_slot", {"GAMES/slot/slot.swf,games\\slot\\"});
    site.write("games/slot/slot.swf", "slot");
    package("games/language/en/", "en_slot", {"GAMES/language/en/slot.txt,games\\slot\\en\\"});
    site.write("games/language/en/slot.txt", "strings");
  }
  // A package's installation manifest with these entries, and an update
  // manifest that says it is current.
  void package(const std::string& folder, const std::string& name,
               const std::vector<std::string>& entries) {
    std::string manifest = "$version-1.0\n";
    for (const std::string& entry : entries) manifest += entry + "\n";
    site.write(folder + name + "_install.xml", manifest);
    site.write(folder + name + "_update.xml", "$version-1.0\n");
  }

  testing::PackageSite site;
  testing::RequestServiceDouble service;
  testing::TempDir app;
  testing::TempDir scratch;
};

TEST(TarvelProgram, TheWholeRoadThenASecondRunFindsEverythingCurrent) {
  WholeRoad w;
  const LauncherRun first = run_launcher(w.app.path(), w.scratch);
  EXPECT_EQ(first.exit_code, 0) << first.transcript;
  EXPECT_TRUE(in_order(first.transcript,
                       {
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
  EXPECT_TRUE(
      in_order(second.transcript, {"IndexForm#4 received \"game_status==<![CDATA[<main>"
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
  ASSERT_TRUE(install_game_package(t.app, "slot", "common", kSourceGameUrl));
  testing::TempDir scratch;

  const LauncherRun clean = run_launcher(t.dir.path(), scratch, "--verify");
  EXPECT_EQ(clean.exit_code, 0) << clean.transcript;
  EXPECT_NE(clean.transcript.find("checked 2 files (100005 bytes) of 1 packages: all as installed"),
            std::string::npos)
      << clean.transcript;

  ASSERT_EQ(std::remove((t.dir / "games/slot/slot.swf").c_str()), 0);
  const std::size_t before = server.requests().size();
  const LauncherRun broken = run_launcher(t.dir.path(), scratch, "--verify");
  EXPECT_EQ(broken.exit_code, 1);
  EXPECT_TRUE(in_order(broken.transcript,
                       {"missing: games\\slot\\slot.swf", "a repair fetches 1 files, 5 bytes"}))
      << broken.transcript;

  const LauncherRun repair = run_launcher(t.dir.path(), scratch, "--repair");
  EXPECT_EQ(repair.exit_code, 0) << repair.transcript;
  EXPECT_NE(repair.transcript.find("repaired 1 of 1 files"), std::string::npos);
  EXPECT_EQ(t.dir.read("games/slot/slot.swf"), "movie");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), before + 1) << "only the broken file";
  EXPECT_EQ(requests.back().path, "games/slot/slot.swf");
}

}  // namespace
}  // namespace tarvel

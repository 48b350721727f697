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

#include "tests/support/request_service_double.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_http_server.hpp"

namespace tarvel {
namespace {

// Longer than any run here takes; a launcher that hangs is killed then.
constexpr const char* kRunLimitSeconds = "30";

struct LauncherRun {
  int exit_code = -1;
  std::string transcript;
};

// Starts the launcher in directory, waits for it to end and reads what it
// printed.
LauncherRun run_launcher(const std::string& directory, const testing::TempDir& scratch) {
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
  char* argv[] = {timeout.data(), limit.data(), program.data(), nullptr};
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

}  // namespace
}  // namespace tarvel

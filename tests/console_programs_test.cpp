// The programs' console mode, driven through a pseudo-terminal as a person
// at a console would.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/startup.hpp"
#include "operator/request_service.hpp"
#include "operator/sample_client.hpp"
#include "operator/stage_server.hpp"
#include "platform/posix/lock_file_guard.hpp"
#include "platform/posix/posix_files.hpp"
#include "tests/support/pty_session.hpp"
#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

const std::string kPrograms = TARVEL_PROGRAM_DIR;

TEST(ConsolePrograms, MenrikShowsItsScreenAndEndsOnATypedCommand) {
  testing::TempDir dir;
  testing::PtySession menrik({kPrograms + "/menrik", "--console"}, dir.path());
  ASSERT_TRUE(menrik.started());
  ASSERT_TRUE(menrik.expect("[CMenrikDlg] plays clearLogin.swf")) << menrik.output();
  menrik.type("shout");
  ASSERT_TRUE(menrik.expect("\"shout\": an action is command or call")) << menrik.output();
  menrik.type("command \"all done\"");
  ASSERT_TRUE(menrik.expect("[CMenrikDlg] -> command all done")) << menrik.output();
  ASSERT_TRUE(menrik.expect("[CMenrikDlg] closes")) << menrik.output();
  EXPECT_EQ(menrik.wait_exit(), 0) << menrik.output();
}

// A second instance needs no network: it shows the error screen with 406.
TEST(ConsolePrograms, TarvelShowsWhatItsScreenReceivesAndSendsWhatIsTyped) {
  testing::TempDir dir;
  testing::TempDir runtime;
  LockFileInstanceGuard first(runtime.path());
  ASSERT_EQ(first.claim(kInstanceName), InstanceGuard::Claim::claimed);
  testing::PtySession tarvel({kPrograms + "/tarvel", "--console"}, dir.path(),
                             {"XDG_RUNTIME_DIR=" + runtime.path()});
  ASSERT_TRUE(tarvel.expect("[CError] <- Err=406")) << tarvel.output();
  tarvel.type("command ok");
  ASSERT_TRUE(tarvel.expect("[CError] -> command ok")) << tarvel.output();
  ASSERT_TRUE(tarvel.expect("[CError] closes")) << tarvel.output();
  EXPECT_EQ(tarvel.wait_exit(), 0) << tarvel.output();
}

// The whole road with a person playing every movie: the stage serves the
// sample client, the person logs in, sees the game status reach the lobby
// and leaves.
TEST(ConsolePrograms, APersonLogsInReachesTheLobbyAndLeaves) {
  testing::TempDir site;
  testing::TempDir app;
  testing::TempDir runtime;
  StageServer stage(StageOptions{.root = site / kSampleTree}, [](const std::string&) {});
  ASSERT_TRUE(stage.bind()) << stage.error();
  PosixFiles files(site.path());
  std::vector<std::string> problems;
  ASSERT_TRUE(write_sample_client(files, site.path(), 1, stage.url(), problems));
  RequestService service({{kSamplePlayer, kSamplePassword}}, kSampleKey);
  stage.start(service);
  std::filesystem::copy(site / kSampleClient, app.path(), std::filesystem::copy_options::recursive);

  testing::PtySession tarvel({kPrograms + "/tarvel-loopback", "--console"}, app.path(),
                             {"XDG_RUNTIME_DIR=" + runtime.path()});
  ASSERT_TRUE(tarvel.expect("[CCorvaneDlg] <- lang=en")) << tarvel.output();
  tarvel.type("call validate demo demo en");
  ASSERT_TRUE(tarvel.expect("[IndexForm] <- game_status==<![CDATA[<main><game type=\"slotmania\""))
      << tarvel.output();
  tarvel.type("command exit");
  ASSERT_TRUE(tarvel.expect("[IndexForm] closes")) << tarvel.output();
  EXPECT_EQ(tarvel.wait_exit(), 0) << tarvel.output();
  EXPECT_TRUE(app.exists("index.swf"));
  stage.stop();
}

}  // namespace
}  // namespace tarvel

// The programs' console mode, driven through a pseudo-terminal as a person
// at a console would.
#include <gtest/gtest.h>

#include "core/startup.hpp"
#include "platform/posix/lock_file_guard.hpp"
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

}  // namespace
}  // namespace tarvel

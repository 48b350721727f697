// The test display never outlives the test that started it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/eventually.hpp"
#include "tests/support/xvfb.hpp"

namespace tarvel {
namespace {

// Gone, or a zombie nobody has reaped yet: either way it holds no memory.
bool process_gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const auto close = line.rfind(')');
  return close != std::string::npos && line.substr(close + 2, 1) == "Z";
}

TEST(TestDisplay, EndsWhenTheTestProcessIsKilled) {
  int channel[2];
  ASSERT_EQ(::pipe(channel), 0);
  const pid_t test_process = ::fork();
  ASSERT_GE(test_process, 0);
  if (test_process == 0) {
    testing::Xvfb xvfb;
    const pid_t server = xvfb.display().empty() ? -1 : xvfb.pid();
    (void)!::write(channel[1], &server, sizeof server);
    ::pause();
    ::_exit(0);
  }
  ::close(channel[1]);
  pid_t server = -1;
  ASSERT_EQ(::read(channel[0], &server, sizeof server), static_cast<ssize_t>(sizeof server));
  ::close(channel[0]);
  ASSERT_GT(server, 0) << "no display started";
  ASSERT_FALSE(process_gone(server));

  ::kill(test_process, SIGKILL);
  ::waitpid(test_process, nullptr, 0);
  EXPECT_TRUE(testing::eventually([&] { return process_gone(server); }))
      << "Xvfb " << server << " outlived the killed test";
  if (!process_gone(server)) ::kill(server, SIGKILL);
}

}  // namespace
}  // namespace tarvel

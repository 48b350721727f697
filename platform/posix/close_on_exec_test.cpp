// Descriptors the launcher keeps open must not leak into programs it starts:
// an installer holding a half-written download or a socket open would keep
// them alive after the launcher is done with them.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "platform/posix/posix_echo.hpp"
#include "platform/posix/posix_file_sink.hpp"
#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

std::set<int> open_descriptors() {
  std::set<int> fds;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return fds;
  while (const dirent* item = ::readdir(dir)) {
    if (item->d_name[0] != '.') fds.insert(std::atoi(item->d_name));
  }
  fds.erase(::dirfd(dir));
  ::closedir(dir);
  return fds;
}

// The descriptors opened since `before`, each with whether it closes on exec.
void expect_new_descriptors_close_on_exec(const std::set<int>& before) {
  int opened = 0;
  for (const int fd : open_descriptors()) {
    if (before.contains(fd)) continue;
    ++opened;
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << "descriptor " << fd;
  }
  EXPECT_GT(opened, 0) << "nothing was opened";
}

TEST(CloseOnExec, DownloadSinkAndEchoSocket) {
  testing::TempDir dir;
  const std::set<int> before = open_descriptors();
  PosixFileSink sink(dir / "download");
  ASSERT_TRUE(sink.open());
  expect_new_descriptors_close_on_exec(before);
  sink.abandon();

  PosixEchoSockets sockets;
  const auto socket = sockets.open();
  if (!socket) GTEST_SKIP() << "this system allows neither raw nor datagram ICMP sockets";
  expect_new_descriptors_close_on_exec(before);
}

}  // namespace
}  // namespace tarvel

#include "tests/support/xvfb.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <string>

namespace tarvel::testing {
namespace {

// Xvfb writes its display number to this descriptor once it is listening.
constexpr int kStartTimeoutMs = 20000;

}  // namespace

Xvfb::Xvfb(int width, int height) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // The server ends with the test process however that ends: a display
    // kept for the whole process is never destroyed, and a killed test
    // destroys nothing. (The signal comes when the forking thread ends: the
    // test's main thread, which lives as long as the process.)
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(0);
    // The child keeps only the write end, under a fixed number.
    dup2(ready[1], 3);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp",
           "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  if (pid_ < 0) {
    close(ready[0]);
    error_ = "fork failed";
    return;
  }
  std::string number;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (number.empty() || number.back() != '\n') {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{ready[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) break;
    std::array<char, 32> buffer{};
    const ssize_t got = read(ready[0], buffer.data(), buffer.size());
    if (got <= 0) break;
    number.append(buffer.data(), static_cast<std::size_t>(got));
  }
  close(ready[0]);
  if (number.empty() || number.back() != '\n') {
    error_ = "Xvfb did not start (is the xvfb package installed?)";
    return;
  }
  number.pop_back();
  display_ = ":" + number;
}

Xvfb::~Xvfb() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

}  // namespace tarvel::testing

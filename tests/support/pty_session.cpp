#include "tests/support/pty_session.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace tarvel::testing {
namespace {

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& text : texts) out.push_back(text.data());
  out.push_back(nullptr);
  return out;
}

[[noreturn]] void run_child(const std::string& terminal, char* const* argv, char* const* envp,
                            const std::string& directory) {
  ::setsid();
  const int slave = ::open(terminal.c_str(), O_RDWR);
  if (slave < 0 || ::chdir(directory.c_str()) != 0) ::_exit(126);
  ::ioctl(slave, TIOCSCTTY, 0);
  for (const int fd : {0, 1, 2}) ::dup2(slave, fd);
  if (slave > 2) ::close(slave);
  ::execve(argv[0], argv, envp);
  ::_exit(127);
}

}  // namespace

std::vector<std::string> merged_environment(const std::vector<std::string>& extra) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('=') + 1);
    bool replaced = false;
    for (const std::string& given : extra) replaced = replaced || given.starts_with(name);
    if (!replaced) merged.push_back(text);
  }
  merged.insert(merged.end(), extra.begin(), extra.end());
  return merged;
}

PtySession::PtySession(const std::vector<std::string>& argv, const std::string& directory,
                       const std::vector<std::string>& environment) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
  const char* name = ::ptsname(master_);
  if (name == nullptr) return;
  const std::string terminal = name;
  std::vector<std::string> args = argv;
  std::vector<std::string> env = merged_environment(environment);
  const std::vector<char*> arg_pointers = pointers(args);
  const std::vector<char*> env_pointers = pointers(env);
  pid_ = ::fork();
  if (pid_ == 0) run_child(terminal, arg_pointers.data(), env_pointers.data(), directory);
}

PtySession::~PtySession() {
  if (pid_ > 0 && !exit_code_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (master_ >= 0) ::close(master_);
}

// Reads what is there, waiting until the time given; false when nothing more
// can come (the program has ended and its output is drained) or time is up.
bool PtySession::read_some(std::chrono::steady_clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      until - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd wait{master_, POLLIN, 0};
  if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return errno == EINTR;
  std::array<char, 4096> buffer{};
  const ssize_t got = ::read(master_, buffer.data(), buffer.size());
  if (got <= 0) return false;  // EIO: the terminal's last holder has closed it
  output_.append(buffer.data(), static_cast<std::size_t>(got));
  return true;
}

bool PtySession::expect(const std::string& text, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (true) {
    const auto found = output_.find(text, matched_);
    if (found != std::string::npos) {
      matched_ = found + text.size();
      return true;
    }
    if (master_ < 0 || !read_some(until)) return false;
  }
}

void PtySession::type(const std::string& line) {
  const std::string keys = line + "\n";
  if (master_ >= 0) (void)::write(master_, keys.data(), keys.size());
}

std::optional<int> PtySession::wait_exit(std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!exit_code_ && pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    // Drains the output meanwhile: a program blocked on a full terminal never ends.
    if (!read_some(
            std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(50))) &&
        std::chrono::steady_clock::now() >= until) {
      break;
    }
  }
  return exit_code_;
}

}  // namespace tarvel::testing

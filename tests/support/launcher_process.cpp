#include "tests/support/launcher_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace tarvel::testing {

LauncherProcess::LauncherProcess(const std::string& program, const std::string& directory,
                                 const std::vector<std::string>& environment, int limit_seconds,
                                 const std::vector<std::string>& arguments) {
  int output[2];
  int errors[2];
  if (::pipe2(output, O_CLOEXEC) != 0) {
    ended_ = true;
    return;
  }
  if (::pipe2(errors, O_CLOEXEC) != 0) {
    ::close(output[0]);
    ::close(output[1]);
    ended_ = true;
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
  std::vector<std::string> env = environment;
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  // "timeout" ends a launcher that hangs, so that the test fails instead.
  std::vector<std::string> words = {"timeout", std::to_string(limit_seconds), program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  if (::posix_spawnp(&pid_, "timeout", &actions, nullptr, argv.data(), envp.data()) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(output[1]);
  ::close(errors[1]);
  if (pid_ < 0) {
    ::close(output[0]);
    ::close(errors[0]);
    ended_ = true;
    return;
  }
  reader_ = std::thread([this, from = output[0]] { read_output(from); });
  error_reader_ = std::thread([this, from = errors[0]] { read_errors(from); });
}

// "timeout" hands the signal on to the launcher.
LauncherProcess::~LauncherProcess() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
  (void)wait_exit();
}

// Until every holder of the pipe's writing end (the launcher and whatever
// it started) has closed it.
void LauncherProcess::read_output(int from) {
  std::array<char, 4096> buffer{};
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    std::lock_guard lock(mutex_);
    if (got <= 0) {
      ended_ = true;
      changed_.notify_all();
      break;
    }
    output_.append(buffer.data(), static_cast<std::size_t>(got));
    changed_.notify_all();
  }
  ::close(from);
}

void LauncherProcess::read_errors(int from) {
  std::array<char, 4096> buffer{};
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::lock_guard lock(mutex_);
    errors_.append(buffer.data(), static_cast<std::size_t>(got));
  }
  ::close(from);
}

std::string LauncherProcess::errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

bool LauncherProcess::wait_for(const std::string& text, std::chrono::milliseconds deadline) {
  std::unique_lock lock(mutex_);
  std::size_t found = std::string::npos;
  const bool seen = changed_.wait_for(lock, deadline, [&] {
    found = output_.find(text, found_up_to_);
    return found != std::string::npos || ended_;
  });
  if (!seen || found == std::string::npos) return false;
  found_up_to_ = found + text.size();
  return true;
}

int LauncherProcess::wait_exit() {
  if (pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) exit_code_ = WEXITSTATUS(status);
    pid_ = -1;
  }
  if (reader_.joinable()) reader_.join();
  if (error_reader_.joinable()) error_reader_.join();
  return exit_code_;
}

std::string LauncherProcess::transcript() const {
  std::lock_guard lock(mutex_);
  return output_;
}

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

}  // namespace tarvel::testing

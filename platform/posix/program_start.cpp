#include "platform/posix/program_start.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/folder_beneath.hpp"

extern char** environ;

namespace tarvel {
namespace {

// The longest first line taken: a version line is a few dozen characters.
constexpr std::size_t kLongestLine = 4096;

std::vector<char*> argument_vector(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Reads from fd until a newline, the end, or the deadline.
std::optional<std::string> read_line(int fd, std::chrono::steady_clock::time_point deadline) {
  std::string text;
  char buffer[512];
  while (text.find('\n') == std::string::npos && text.size() < kLongestLine) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return std::nullopt;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  if (text.empty()) return std::nullopt;
  return text.substr(0, text.find('\n'));
}

}  // namespace

std::string run_in_folder(const std::string& folder, const std::string& program,
                          const std::vector<std::string>& arguments) {
  if (::chdir(folder.c_str()) != 0) return folder + ": " + std::strerror(errno);
  std::vector<char*> argv = argument_vector(arguments);
  ::execv(program.c_str(), argv.data());
  return program + ": " + std::strerror(errno);
}

std::optional<std::string> first_output_line(const std::string& program,
                                             const std::vector<std::string>& arguments,
                                             std::chrono::milliseconds limit) {
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return std::nullopt;
  UniqueFd reading(pipe_ends[0]);
  UniqueFd writing(pipe_ends[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writing.get(), 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv = argument_vector(arguments);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  writing = UniqueFd();
  auto line = read_line(reading.get(), std::chrono::steady_clock::now() + limit);
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return line;
}

}  // namespace tarvel

#include "platform/posix/console_input.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace tarvel {

ConsoleInput::ConsoleInput(int fd, std::function<void(const std::string&)> on_line,
                           std::function<void()> on_end)
    : on_line_(std::move(on_line)), on_end_(std::move(on_end)) {
  if (::pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    stop_pipe_[0] = stop_pipe_[1] = -1;
    return;
  }
  reader_ = std::thread([this, fd] { read_lines(fd); });
}

ConsoleInput::~ConsoleInput() {
  if (stop_pipe_[1] >= 0) {
    const char stop = 0;
    // One byte into an empty pipe of our own does not fail; a fortified
    // build wants the result looked at all the same.
    const ssize_t woken = ::write(stop_pipe_[1], &stop, 1);
    (void)woken;
  }
  if (reader_.joinable()) reader_.join();
  for (const int fd : stop_pipe_) {
    if (fd >= 0) ::close(fd);
  }
}

// Waits on the input and on the stop pipe together, so stopping never has to
// wait for a person to press Enter.
void ConsoleInput::read_lines(int fd) {
  std::string pending;
  std::array<char, 4096> buffer{};
  while (true) {
    std::array<pollfd, 2> waits{{{fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}}};
    if (::poll(waits.data(), waits.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (waits[1].revents != 0) return;
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    pending.append(buffer.data(), static_cast<std::size_t>(got));
    for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      on_line_(line);
    }
  }
  if (!pending.empty()) on_line_(pending);
  on_end_();
}

}  // namespace tarvel

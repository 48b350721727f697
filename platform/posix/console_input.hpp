#pragma once

#include <functional>
#include <string>
#include <thread>

namespace tarvel {

// Reads lines a person types on a file descriptor (standard input) on a
// thread of its own, handing each to on_line there, and calls on_end once
// the input ends. The destructor stops the reading at once, whether or not
// anything is being typed.
class ConsoleInput {
 public:
  ConsoleInput(int fd, std::function<void(const std::string&)> on_line,
               std::function<void()> on_end);
  ~ConsoleInput();
  ConsoleInput(const ConsoleInput&) = delete;
  ConsoleInput& operator=(const ConsoleInput&) = delete;

 private:
  void read_lines(int fd);

  std::function<void(const std::string&)> on_line_;
  std::function<void()> on_end_;
  int stop_pipe_[2] = {-1, -1};
  std::thread reader_;
};

}  // namespace tarvel

#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace tarvel::testing {

// A built launcher run as a player starts it: from its application
// directory, with the environment given and nothing else. What it prints
// (its transcript) is gathered as it comes, so a test can act on a screen
// while the launcher runs.
class LauncherProcess {
 public:
  // environment: "NAME=value" entries. A launcher still running after
  // limit_seconds is killed. arguments follow the program's name.
  LauncherProcess(const std::string& program, const std::string& directory,
                  const std::vector<std::string>& environment, int limit_seconds,
                  const std::vector<std::string>& arguments = {});
  // Kills the launcher if it still runs.
  ~LauncherProcess();
  LauncherProcess(const LauncherProcess&) = delete;
  LauncherProcess& operator=(const LauncherProcess&) = delete;

  // Waits until the transcript holds the text after everything earlier
  // waits found (so a run of waits checks an order); false when the
  // launcher ended or the deadline passed first.
  [[nodiscard]] bool wait_for(const std::string& text, std::chrono::milliseconds deadline);
  // Waits for the launcher to end and gives its exit status (-1: killed,
  // or it never started).
  int wait_exit();
  [[nodiscard]] std::string transcript() const;
  // What it wrote to standard error; whole once wait_exit() returned.
  [[nodiscard]] std::string errors() const;

 private:
  void read_output(int from);
  void read_errors(int from);

  pid_t pid_ = -1;
  int exit_code_ = -1;
  std::thread reader_;
  std::thread error_reader_;
  std::string errors_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  std::size_t found_up_to_ = 0;
  bool ended_ = false;
};

// Whether the lines appear in the text in this order.
::testing::AssertionResult in_order(const std::string& text, const std::vector<std::string>& lines);

}  // namespace tarvel::testing
